#include "support/FakeLink.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

TEST(Tick, CountsDownEvenWhileBusyAndStopsAtZero) {
    TestForm form;
    form.LinkBusy = 1;
    form.WaitTicks = 3;
    Timer1Timer(form);
    EXPECT_EQ(form.WaitTicks, 2);
    Timer1Timer(form);
    Timer1Timer(form);
    Timer1Timer(form);
    EXPECT_EQ(form.WaitTicks, 0);
}

TEST(Tick, WaitOfNTicksEndsAtTheNthTick) {
    struct Case {
        int64_t start;
        int ticks;
        int64_t end;
    };
    // A wait started just before a tick ends almost at once for n = 1;
    // a wait of 2 never ends before one full period.
    for (Case c : {Case{99999, 1, 100000}, Case{0, 1, 100000}, Case{1, 2, 200000}, Case{0, 300, 30000000}}) {
        TestForm form;
        form.clock.now = c.start;
        form.WaitForTicks(c.ticks);
        EXPECT_EQ(form.clock.now, c.end) << c.start << " " << c.ticks;
        EXPECT_EQ(form.WaitTicks, 0);
    }
}

TEST(Driver, NeverOpenedHandleFailsAndReportsEmpty) {
    FakeLinkScope scope;
    uint8_t buf[4] = {1, 2, 3, 4};
    uint32_t n = 99, rx = 99, tx = 99, ev = 99;
    EXPECT_NE(ReadBytes(nullptr, buf, 4, &n), 0u);
    EXPECT_EQ(n, 0u);
    EXPECT_NE(GetStatus(nullptr, &rx, &tx, &ev), 0u);
    EXPECT_EQ(rx, 0u);
    EXPECT_NE(WriteBytes(nullptr, buf, 4, &n), 0u);
    EXPECT_NE(SetBaudRate(nullptr, 19200), 0u);
    EXPECT_NE(SetDataCharacteristics(nullptr, 8, 0, 0), 0u);
    EXPECT_NE(SetTimeouts(nullptr, 0, 0), 0u);
    EXPECT_NE(SetUsbParameters(nullptr, 10000, 10000), 0u);
    EXPECT_NE(PurgeBuffers(nullptr, PURGE_BOTH), 0u);
    EXPECT_NE(SetDtr(nullptr), 0u);
    EXPECT_NE(ClearDtr(nullptr), 0u);
    EXPECT_NE(SetRts(nullptr), 0u);
    EXPECT_NE(ClearRts(nullptr), 0u);
    EXPECT_EQ(LinkEventFd(nullptr), -1);
    EXPECT_EQ(buf[0], 1);
}
