#include "Bench.h"

#include "bootmode/AwaitReply.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Filled(size_t n, uint8_t fill, size_t at = SIZE_MAX, uint8_t value = 0) {
    std::vector<uint8_t> v(n, fill);
    if (at < n) v[at] = value;
    return v;
}

std::vector<std::string> Reads(Bench& b) {
    std::vector<std::string> out;
    for (const std::string& c : b.Log())
        if (c.rfind("ReadBytes", 0) == 0) out.push_back(c);
    return out;
}

TEST(AwaitReply, ThresholdWindowAndQueue) {
    struct Case {
        const char* name;
        uint8_t awaited;
        uint32_t threshold;
        std::vector<uint8_t> queued;
        bool found;
        std::vector<std::string> reads;
        size_t leftQueued;
    };
    const Case cases[] = {
        {"any byte is read at threshold 0", 0x06, 0, {0x06}, true, {"ReadBytes 1"}, 0},
        {"a reply without the byte is consumed", 0x06, 0, {0xFF}, false, {"ReadBytes 1"}, 0},
        {"exactly the threshold is never read", 0x31, 2, {0x31, 0x01}, false, {}, 2},
        {"one more than the threshold is read", 0x31, 2, {0x31, 0x01, 0x00}, true, {"ReadBytes 3"}, 0},
        {"ratio reply of 9 is too short", 0x32, 9, Filled(9, 0x32), false, {}, 9},
        {"ratio reply of 10 is read", 0x32, 9, Filled(10, 0x32), true, {"ReadBytes 10"}, 0},
        {"frequency reply of 11 is too short", 0x33, 11, Filled(11, 0x33), false, {}, 11},
        {"frequency reply of 12 is read", 0x33, 11, Filled(12, 0x33), true, {"ReadBytes 12"}, 0},
        {"awaited byte 20th of a read counts", 0x06, 0, Filled(25, 0xFF, 19, 0x06), true, {"ReadBytes 25"}, 0},
        {"awaited byte 21st of a read is lost", 0x06, 0, Filled(25, 0xFF, 20, 0x06), false, {"ReadBytes 25"}, 0},
        // A read takes 256; the rest waits for the next poll, where the
        // 257th byte is the first of the read.
        {"bytes past 256 stay queued",
         0x06,
         0,
         Filled(300, 0xFF, 256, 0x06),
         true,
         {"ReadBytes 256", "ReadBytes 44"},
         0},
    };
    for (const Case& c : cases) {
        Bench b;
        b.form.LinkBusy = 1;  // as during a write: the monitor's pump stays off the link
        b.dev->rx.assign(c.queued.begin(), c.queued.end());
        const bool found = AwaitReply(b.form, c.awaited, c.threshold, 20, 10);
        EXPECT_EQ(found, c.found) << c.name;
        EXPECT_EQ(Reads(b), c.reads) << c.name;
        EXPECT_EQ(b.dev->rx.size(), c.leftQueued) << c.name;
        // Found within the first polls; otherwise the whole wait of 10 ticks.
        if (c.found)
            EXPECT_LE(b.form.clock.now, TestForm::kTick) << c.name;
        else
            EXPECT_EQ(b.form.clock.now, 10 * TestForm::kTick) << c.name;
        EXPECT_EQ(b.form.WaitTicks == 0, !c.found) << c.name;
    }
}

TEST(AwaitReply, ReplyArrivingDuringTheWait) {
    struct Case {
        int64_t arrival;
        bool found;
    };
    // A wait of 2 ticks from time 0 ends at the second tick.
    for (Case c : {Case{150000, true}, Case{199999, true}, Case{250000, false}}) {
        Bench b;
        b.form.LinkBusy = 1;  // as during a write: the monitor's pump stays off the link
        FakeDevice* d = b.dev;
        b.form.At(c.arrival, [d] { d->Feed({0x00}); });
        EXPECT_EQ(AwaitReply(b.form, 0x00, 0, 20, 2), c.found) << c.arrival;
        EXPECT_EQ(b.form.clock.now, c.found ? c.arrival : 200000) << c.arrival;
    }
}

TEST(AwaitReply, FailedReadIsFollowedByTheNextPoll) {
    Bench b;
    b.form.LinkBusy = 1;  // as during a write: the monitor's pump stays off the link
    FakeDevice* d = b.dev;
    d->Feed({0x06});
    d->failReads = LINK_IO_ERROR;
    b.form.At(300000, [d] { d->failReads = LINK_OK; });
    EXPECT_TRUE(AwaitReply(b.form, 0x06, 0, 20, 10));
    EXPECT_EQ(LastStatus, 0u);
    EXPECT_GE(b.Count("ReadBytes 1"), 2);
    EXPECT_EQ(b.form.clock.now, 300000);

    Bench f;
    f.form.LinkBusy = 1;  // as during a write: the monitor's pump stays off the link
    f.dev->Feed({0x06});
    f.dev->failReads = LINK_IO_ERROR;
    EXPECT_FALSE(AwaitReply(f.form, 0x06, 0, 20, 10));
    EXPECT_EQ(LastStatus, static_cast<uint32_t>(LINK_IO_ERROR));
}

TEST(AwaitReply, OneStatusQueryAndOnePumpPassPerPoll) {
    for (bool replies : {false, true}) {
        Bench b;
        b.form.LinkBusy = 1;  // as during a write: the monitor's pump stays off the link
        b.scope.provider->log.logStatusPolls = true;
        FakeDevice* d = b.dev;
        if (replies) b.form.At(450000, [d] { d->Feed({0x06}); });
        AwaitReply(b.form, 0x06, 0, 20, 10);
        // A found reply ends its poll before the pump pass.
        EXPECT_EQ(b.Count("GetStatus"), b.form.pumpPasses + (replies ? 1 : 0)) << replies;
    }
}

TEST(AwaitReply, NeverOpenedConverterTimesOut) {
    FakeLinkScope scope;
    TestForm form;
    EXPECT_FALSE(AwaitReply(form, 0x06, 0, 20, 3));
    EXPECT_EQ(form.clock.now, 3 * TestForm::kTick);
}

}  // namespace
