// The rate computation of a write: the chip's divider setting and its error,
// the converter's rate, and which rates are usable.
#include "bootmode/BitRate.h"

#include <gtest/gtest.h>

namespace {

ClockSetup ClockOf(uint16_t units) {
    ClockSetup c;
    c.inputUnits = units;
    return c;
}

TEST(BitRate, ChipSettingErrorAndAcceptance) {
    struct Case {
        uint16_t clock;  // 0.01 MHz
        uint32_t rate;
        int n, N;
        double errorPercent;
        bool accepted;
    };
    const Case cases[] = {
        // 25 MHz peripheral clock: the window's rate and the two fastest.
        {1250, 38400, 0, 19, +1.725, true},
        {1250, 390600, 0, 1, +0.0064, true},
        {1250, 781200, 0, 0, +0.0064, true},
        {1250, 390625, 0, 1, +0.0064, true},  // told as 390600
        // 156,250 bit/s is the nearest setting to 150,000: +4.17 %.
        {1250, 150000, 0, 4, +4.1667, false},
        // The 4 % boundary on both sides of 195,312.5 bit/s (N = 3).
        {1250, 187900, 0, 3, +3.9449, true},
        {1250, 187800, 0, 3, +4.0003, false},
        {1250, 203400, 0, 3, -3.9762, true},
        {1250, 203500, 0, 3, -4.0233, false},
        // Beyond the fastest setting.
        {1250, 1000000, 0, 0, -21.875, false},
        // Slow rates move to a coarser clock select.
        {1250, 1200, 1, 162, -0.1470, true},
        // A 12.00 MHz crystal: 24 MHz peripheral clock.
        {1200, 38400, 0, 19, -2.3438, true},
        {1200, 750000, 0, 0, 0.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.clock << " x 0.01 MHz, " << c.rate << " bit/s");
        const RatePlan p = PlanRate(c.rate, ClockOf(c.clock));
        ASSERT_TRUE(p.fieldOk);
        EXPECT_EQ(p.clockSelect, c.n);
        EXPECT_EQ(p.divider, c.N);
        EXPECT_NEAR(p.chipError * 100, c.errorPercent, 0.001);
        EXPECT_EQ(p.chipAccepts, c.accepted);
        if (!c.accepted) {
            EXPECT_FALSE(p.usable);
        }
    }
}

TEST(BitRate, TheFieldCarriesHundredsInSixteenBits) {
    const ClockSetup clock;
    EXPECT_EQ(PlanRate(390625, clock).units, 3906);
    EXPECT_EQ(PlanRate(390625, clock).told, 390600u);
    EXPECT_EQ(PlanRate(38400, clock).units, 384);
    EXPECT_EQ(PlanRate(100, clock).units, 1);
    EXPECT_TRUE(PlanRate(6553599, clock).fieldOk);
    for (uint32_t rate : {0u, 99u, 6553600u, 10000000u}) {
        SCOPED_TRACE(rate);
        const RatePlan p = PlanRate(rate, clock);
        EXPECT_FALSE(p.fieldOk);
        EXPECT_FALSE(p.usable);
        EXPECT_NE(RateRefusal(p, clock).find("cannot be told"), std::string::npos);
    }
}

TEST(BitRate, ConverterRatesAndTheMismatch) {
    EXPECT_NEAR(ConverterRate(390625), 3000000 / 7.625, 0.01);  // 393,443
    EXPECT_NEAR(ConverterRate(781250), 3000000 / 3.875, 0.01);  // 774,194
    EXPECT_EQ(ConverterRate(38400), 38400);                     // 3 MHz / 78.125
    EXPECT_EQ(ConverterRate(2900000), 3000000);
    EXPECT_EQ(ConverterRate(1900000), 2000000);
    EXPECT_EQ(ConverterRate(1500000), 1500000);

    // The converter is set to the chip's real rate, so the window's rate,
    // 1.7 % fast on the chip, is nearly matched.
    const RatePlan p = PlanRate(38400, ClockSetup{});
    EXPECT_EQ(p.hostRate, 39063u);
    EXPECT_NEAR(p.mismatch * 100, 0.066, 0.01);
    EXPECT_TRUE(p.usable);
    EXPECT_NEAR(p.BlockSeconds(), 135 * 10 / 39062.5, 1e-9);
    const RatePlan fast = PlanRate(781200, ClockSetup{});
    EXPECT_NEAR(fast.converterError * 100, -0.897, 0.01);
    EXPECT_NEAR(fast.mismatch * 100, -0.903, 0.01);
    EXPECT_TRUE(fast.usable);
}

TEST(BitRate, UsableRatesRunFromTheFastestDownTo38400) {
    const std::vector<RatePlan> rates = UsableRates(ClockSetup{});
    ASSERT_GE(rates.size(), 3u);
    EXPECT_EQ(rates[0].told, 781200u);
    EXPECT_EQ(rates[1].told, 390600u);
    EXPECT_EQ(rates[2].told, 260400u);
    EXPECT_EQ(rates.back().told, 38400u);
    for (size_t i = 0; i < rates.size(); ++i) {
        SCOPED_TRACE(rates[i].told);
        EXPECT_TRUE(rates[i].usable);
        EXPECT_LT(std::abs(rates[i].chipError), kChipRateLimit);
        EXPECT_LE(std::abs(rates[i].mismatch), kLinkMargin);
        if (i > 0) {
            EXPECT_LT(rates[i].chipRate, rates[i - 1].chipRate);
        }
    }
    EXPECT_EQ(UsableRates(ClockOf(1200))[0].told, 750000u);
}

TEST(BitRate, RefusalNamesTheNearestGoodRates) {
    const std::string why = RateRefusal(PlanRate(150000, ClockSetup{}), ClockSetup{});
    EXPECT_NE(why.find("156250 bit/s (+4.17 %)"), std::string::npos) << why;
    EXPECT_NE(why.find("nearest good rates: 130200 and 156200 bit/s"), std::string::npos) << why;
    EXPECT_EQ(RateRefusal(PlanRate(390600, ClockSetup{}), ClockSetup{}), "");
    // Above every usable rate only the one below is named.
    const std::string high = RateRefusal(PlanRate(1000000, ClockSetup{}), ClockSetup{});
    EXPECT_NE(high.find("nearest good rates: 781200 bit/s"), std::string::npos) << high;
}

}  // namespace
