#include "cli/RatedWrite.h"

#include "core/FormCore.h"

#include <string>

WriteOutcome WriteAtRates(FormCore& form, const TransferStep& transfer, const std::vector<RatePlan>& rates,
                          const ClockSetup& clock, bool fallBack, uint32_t* attempts) {
    WriteOutcome outcome = WriteOutcome::Of(WriteResult::TargetFailed);
    if (attempts) *attempts = 0;
    for (size_t i = 0; i < rates.size(); ++i) {
        BootRate rate;
        rate.rateUnits = rates[i].units;
        rate.clock = clock;
        rate.hostRate = rates[i].hostRate;
        rate.checkClock = true;

        if (attempts) ++*attempts;
        outcome = Button1Click(form, transfer, rate);
        outcome.bitRate = rates[i].told;
        if (outcome.Done() || !fallBack || !outcome.rateSuspect || i + 1 == rates.size()) break;
        form.ShowStatus("bit rate " + std::to_string(rates[i].told) + " failed, again at " +
                        std::to_string(rates[i + 1].told));
    }
    return outcome;
}
