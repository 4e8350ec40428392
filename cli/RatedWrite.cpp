#include "cli/RatedWrite.h"

#include "app/FormCore.h"
#include "bootmode/WriteCommand.h"

#include <string>

namespace {

// The stage that confirms the new rate at that rate.
constexpr uint8_t kConfirmStage = 10;

}  // namespace

RatedWrite WriteAtRates(FormCore& form, const std::vector<RatePlan>& rates, const ClockSetup& clock, bool fallBack,
                        ProgramStats& stats) {
    RatedWrite result;
    for (size_t i = 0; i < rates.size(); ++i) {
        BootRate rate;
        rate.rateUnits = rates[i].units;
        rate.clock = clock;
        rate.hostRate = rates[i].hostRate;
        rate.checkClock = true;

        stats = ProgramStats{};
        result.bitRate = rates[i].told;
        ++result.attempts;
        const uint8_t failedStage = Button1Click(form, rate);
        result.done = stats.done;
        if (stats.done || !fallBack || i + 1 == rates.size()) break;
        const bool rateFailed = failedStage == 0 ? stats.rateSuspect : failedStage == kConfirmStage;
        if (!rateFailed) break;
        form.ShowStatus("bit rate " + std::to_string(rates[i].told) + " failed, again at " +
                        std::to_string(rates[i + 1].told));
    }
    return result;
}
