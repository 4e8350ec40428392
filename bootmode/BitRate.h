// The bit rates of a write's programming phase, computed before the target is
// touched: what the chip makes of a rate it is told, what the converter makes
// of the chip's real rate, and whether the two ends then talk reliably.
//
// Contract
// - The chip derives its serial rate from the peripheral clock
//   phi = input clock x peripheral ratio: phi / (32 x 4^n x (N + 1)) for the
//   clock select n (0 to 3) and the divider N (0 to 255). Told a rate B, it
//   takes the setting nearest to B and refuses B unless that setting misses it
//   by less than 4 % (kChipRateLimit).
// - The new-bit-rate command carries B in units of 100 bit/s in 16 bits: a
//   rate is cut to whole hundreds, and rates that do not fit (below 100 or
//   above 6,553,599 bit/s) cannot be told at all.
// - The converter (an FTDI FT232R or alike) runs at 3,000,000 / (d + f/8)
//   with d >= 2 and f from 0 to 7, or at 3,000,000 or 2,000,000 bit/s; it is
//   asked for the chip's real rate and picks the nearest of those.
// - A rate is usable when the chip accepts it and the converter's rate is
//   within kLinkMargin (2 %) of the chip's real rate.
// - Errors are fractions (0.017 for +1.7 %): the chip's and the converter's
//   against the rate told, the mismatch of the converter against the chip.
#pragma once

#include "protocol/Protocol.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr double kChipRateLimit = 0.04;  // the chip refuses a setting 4 % or more off
constexpr double kLinkMargin = 0.02;     // the most the two ends may differ
constexpr uint32_t kMaxToldRate = 65535u * 100u + 99u;

// The input clock in units of 0.01 MHz and the ratios of the write.
struct ClockSetup {
    uint16_t inputUnits = proto::kInputClockUnits;  // 12.50 MHz
    uint8_t systemRatio = proto::kMultiplicationRatios[0];
    uint8_t peripheralRatio = proto::kMultiplicationRatios[1];

    double PeripheralHz() const { return inputUnits * 10000.0 * peripheralRatio; }
};

struct RatePlan {
    uint32_t asked = 0;         // as given
    bool fieldOk = false;       // the 100 bit/s field carries it
    uint16_t units = 0;         // the field's value
    uint32_t told = 0;          // units x 100: what the chip is told
    int clockSelect = 0;        // the chip's n
    int divider = 0;            // the chip's N
    double chipRate = 0;        // the rate of that setting
    double chipError = 0;       // chipRate / told - 1
    bool chipAccepts = false;   // |chipError| < 4 %
    double converterRate = 0;   // the converter's nearest rate to chipRate
    double converterError = 0;  // converterRate / told - 1
    double mismatch = 0;        // converterRate / chipRate - 1
    bool usable = false;        // chip accepts, and |mismatch| within the margin
    uint32_t hostRate = 0;      // what the converter is set to: chipRate, rounded

    // Seconds one programming block takes on the wire at the chip's rate:
    // its 134-byte command and the one-byte acknowledgement, 10 bits a byte.
    double BlockSeconds() const;
};

// The converter's nearest rate to `rate`.
double ConverterRate(double rate);

// What the chip and the converter make of `rate` with `clock`.
RatePlan PlanRate(uint32_t rate, const ClockSetup& clock);

// The usable rates from the highest down to 38400 bit/s, one for each of the
// chip's settings, each told as the setting's rate cut to hundreds (the
// setting that 38400 itself lands on is told as 38400). Empty when even
// 38400 is not usable with this clock.
std::vector<RatePlan> UsableRates(const ClockSetup& clock);

// Why `plan` is not usable, in one line ("" when it is), naming the nearest
// usable rates below and above it.
std::string RateRefusal(const RatePlan& plan, const ClockSetup& clock);

// "+1.73 %"-style text of a fraction.
std::string PercentText(double fraction);
