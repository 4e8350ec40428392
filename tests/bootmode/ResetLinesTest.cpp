#include "Bench.h"

#include "bootmode/ResetLines.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

struct LineCase {
    const char* name;
    void (*op)(FormCore&);
    Calls expected;  // line operations with the ticks of the wait between them
    bool dtrAfter, rtsAfter;
    uint8_t busyAfter;  // LinkBusy afterwards when it was set before
};

const LineCase kLineCases[] = {
    {"EnterBootMode", EnterBootMode, {"ClearDtr", "ClearRts", "tick", "SetDtr", "ClearRts"}, true, false, 1},
    {"ResetTarget", ResetTarget, {"SetRts", "SetDtr", "tick", "tick", "ClearDtr"}, false, true, 0},
};

TEST(ResetLines, FixedSequenceFromEveryStartingState) {
    for (const LineCase& c : kLineCases) {
        for (int start = 0; start < 4; ++start) {
            Bench b;
            b.dev->dtr = start & 1;
            b.dev->rts = start & 2;
            b.form.LinkBusy = 1;
            c.op(b.form);
            EXPECT_EQ(b.Log(), c.expected) << c.name << " from " << start;
            EXPECT_EQ(b.dev->dtr, c.dtrAfter) << c.name;
            EXPECT_EQ(b.dev->rts, c.rtsAfter) << c.name;
            EXPECT_EQ(b.form.LinkBusy, c.busyAfter) << c.name;
            EXPECT_EQ(b.form.WaitTicks, 0) << c.name;
            EXPECT_TRUE(b.form.statuses.empty()) << c.name;
            EXPECT_EQ(b.form.beeps, 0) << c.name;
        }
    }
}

TEST(ResetLines, FailingLineOperationsStillTakeTheWholeSequence) {
    for (const LineCase& c : kLineCases) {
        Bench b;
        b.dev->failStatus = LINK_IO_ERROR;
        LastStatus = 0;
        c.op(b.form);
        EXPECT_EQ(b.Log(), c.expected) << c.name;
        EXPECT_EQ(LastStatus, 0u) << c.name;
        EXPECT_TRUE(b.form.statuses.empty()) << c.name;
    }
}

TEST(ResetLines, WaitsEndAtTheirTick) {
    // A 1-tick wait started just before a tick ends with it; a 2-tick wait
    // always lasts more than one full period.
    struct Case {
        void (*op)(FormCore&);
        int64_t start, end;
    };
    for (Case c : {Case{EnterBootMode, 99999, 100000}, Case{ResetTarget, 0, 200000}, Case{ResetTarget, 1, 200000}}) {
        Bench b;
        b.form.clock.now = c.start;
        c.op(b.form);
        EXPECT_EQ(b.form.clock.now, c.end) << c.start;
    }
}

}  // namespace
