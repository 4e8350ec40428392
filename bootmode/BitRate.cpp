#include "bootmode/BitRate.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kConverterBase = 3000000.0;
constexpr uint32_t kWindowRate = 38400;

// The chip's rate for clock select n and divider N.
double SettingRate(double phi, int n, int N) { return phi / (32.0 * std::pow(4.0, n) * (N + 1)); }

}  // namespace

double RatePlan::BlockSeconds() const {
    if (chipRate <= 0) return 0;
    return (proto::kBlockCommandSize + 1.0) * 10.0 / chipRate;
}

double ConverterRate(double rate) {
    if (rate <= 0) return 0;
    // The divisor in eighths; d = 0 and d = 1 stand for the two fastest rates.
    const double eighths = std::round(kConverterBase / rate * 8.0);
    double best = kConverterBase;  // d = 0
    double bestMiss = std::abs(best - rate);
    auto consider = [&](double candidate) {
        if (std::abs(candidate - rate) < bestMiss) {
            best = candidate;
            bestMiss = std::abs(candidate - rate);
        }
    };
    consider(2000000.0);  // d = 1
    for (double e = eighths - 1; e <= eighths + 1; ++e) {
        if (e >= 16 && e <= 16383 * 8 + 7) consider(kConverterBase * 8.0 / e);
    }
    return best;
}

RatePlan PlanRate(uint32_t rate, const ClockSetup& clock) {
    RatePlan p;
    p.asked = rate;
    const uint32_t units = rate / 100;
    p.fieldOk = units >= 1 && units <= 65535 && rate <= kMaxToldRate;
    if (!p.fieldOk) return p;
    p.units = static_cast<uint16_t>(units);
    p.told = units * 100;

    // The chip's nearest setting; of equally near ones the finer clock select.
    const double phi = clock.PeripheralHz();
    double bestMiss = -1;
    for (int n = 0; n <= 3; ++n) {
        long N = std::lround(phi / (32.0 * std::pow(4.0, n) * p.told)) - 1;
        if (N < 0) N = 0;
        if (N > 255) N = 255;
        const double actual = SettingRate(phi, n, static_cast<int>(N));
        const double miss = std::abs(actual / p.told - 1);
        if (bestMiss < 0 || miss < bestMiss) {
            bestMiss = miss;
            p.clockSelect = n;
            p.divider = static_cast<int>(N);
            p.chipRate = actual;
        }
    }
    p.chipError = p.chipRate / p.told - 1;
    p.chipAccepts = std::abs(p.chipError) < kChipRateLimit;

    p.converterRate = ConverterRate(p.chipRate);
    p.converterError = p.converterRate / p.told - 1;
    p.mismatch = p.converterRate / p.chipRate - 1;
    p.usable = p.chipAccepts && std::abs(p.mismatch) <= kLinkMargin;
    p.hostRate = static_cast<uint32_t>(std::lround(p.chipRate));
    return p;
}

std::vector<RatePlan> UsableRates(const ClockSetup& clock) {
    std::vector<RatePlan> rates;
    const RatePlan window = PlanRate(kWindowRate, clock);
    const double floor = window.usable ? window.chipRate : kWindowRate;
    const double phi = clock.PeripheralHz();
    for (int N = 0; N <= 255; ++N) {
        const double actual = SettingRate(phi, 0, N);
        if (actual < floor || (window.usable && N == window.divider && window.clockSelect == 0)) break;
        const uint32_t told = static_cast<uint32_t>(actual / 100.0) * 100;
        if (told > kMaxToldRate) continue;
        const RatePlan plan = PlanRate(told, clock);
        if (!plan.usable || plan.clockSelect != 0 || plan.divider != N) continue;
        if (!rates.empty() && rates.back().told == plan.told) continue;
        rates.push_back(plan);
    }
    if (window.usable) rates.push_back(window);
    return rates;
}

std::string PercentText(double fraction) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.2f %%", fraction * 100.0);
    return buf;
}

std::string RateRefusal(const RatePlan& plan, const ClockSetup& clock) {
    if (plan.usable) return "";
    char buf[256];
    if (!plan.fieldOk) {
        std::snprintf(buf, sizeof buf, "%u bit/s cannot be told to the chip: it takes 100 to %u bit/s, in hundreds",
                      plan.asked, kMaxToldRate - 99);
    } else if (!plan.chipAccepts) {
        std::snprintf(buf, sizeof buf,
                      "%u bit/s: the chip's nearest setting is %.0f bit/s (%s), which it refuses (4 %% or more off)",
                      plan.told, plan.chipRate, PercentText(plan.chipError).c_str());
    } else {
        std::snprintf(buf, sizeof buf,
                      "%u bit/s: the chip runs at %.0f bit/s, the converter at %.0f bit/s: %s apart, more than %.0f %%",
                      plan.told, plan.chipRate, plan.converterRate, PercentText(plan.mismatch).c_str(),
                      kLinkMargin * 100);
    }
    std::string text = buf;

    // The nearest usable rates on either side.
    const std::vector<RatePlan> rates = UsableRates(clock);
    const RatePlan* below = nullptr;
    const RatePlan* above = nullptr;
    for (const RatePlan& r : rates) {
        if (r.told > plan.asked)
            above = &r;  // the list runs from the highest down
        else if (!below)
            below = &r;
    }
    if (below || above) {
        text += "; nearest good rates:";
        if (below) text += " " + std::to_string(below->told);
        if (below && above) text += " and";
        if (above) text += " " + std::to_string(above->told);
        text += " bit/s";
    } else {
        text += "; no rate is usable with this clock";
    }
    return text;
}
