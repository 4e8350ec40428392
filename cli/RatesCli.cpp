// `rates [--clock MHZ]`: the bit rates that the chip and the converter can
// both use with that input clock, the fastest first, with the chip's setting
// and error, the converter's rate and error (both against the rate told), how
// far apart the two ends run, and the time one programming block takes on the
// wire.
#include "cli/Commands.h"

#include "bootmode/BitRate.h"

#include <cstdio>

int RunRates(const CliArgs& args) {
    ClockSetup clock;
    clock.inputUnits = args.clockUnits;
    const std::vector<RatePlan> rates = UsableRates(clock);
    std::printf("input clock %.2f MHz, peripheral clock %.2f MHz (x%u); converter within %.0f %% of the chip\n",
                clock.inputUnits / 100.0, clock.PeripheralHz() / 1e6, clock.peripheralRatio, kLinkMargin * 100);
    if (rates.empty()) {
        std::printf("no usable rate\n");
        return kExitFailure;
    }
    std::printf("%9s  %5s %10s %9s  %10s %9s  %9s  %9s\n", "rate", "n/N", "chip", "error", "converter", "error",
                "apart", "block");
    for (const RatePlan& r : rates) {
        char setting[16];
        std::snprintf(setting, sizeof setting, "%d/%d", r.clockSelect, r.divider);
        std::printf("%9u  %5s %10.0f %9s  %10.0f %9s  %9s  %6.2f ms\n", r.told, setting, r.chipRate,
                    PercentText(r.chipError).c_str(), r.converterRate, PercentText(r.converterError).c_str(),
                    PercentText(r.mismatch).c_str(), r.BlockSeconds() * 1000.0);
    }
    return kExitOk;
}
