#include "monitor/Monitor.h"

#include "bootmode/WriteCommand.h"

#include "MonitorFixture.h"

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class Monitor : public MonitorFixture {};

struct ViewCase {
    const char* name;
    bool busy;
    bool rateSetBefore;       // a first VIEW or a write has already happened
    uint32_t linkRateBefore;  // the rate the link is at
    bool sound;
    bool expectShown;
    Strings calls;  // driver calls and beeps, in order
    bool rateSetAfter;
    uint32_t rateAfter;  // the device's bit rate; 0: never set
};

TEST_F(Monitor, ViewTable) {
    const ViewCase cases[] = {
        {"first VIEW switches to 38400, then beeps",
         false,
         false,
         19200,
         true,
         true,
         {"SetBaudRate 38400", "beep"},
         true,
         38400},
        {"first VIEW without Sound", false, false, 19200, false, true, {"SetBaudRate 38400"}, true, 38400},
        {"a later VIEW, or one after a good write", false, true, 38400, true, true, {"beep"}, true, 0},
        {"after a write that failed at 19200",
         false,
         true,
         19200,
         true,
         true,
         {"SetBaudRate 38400", "beep"},
         true,
         38400},
        {"busy link: refused without a sign", true, false, 19200, true, false, {}, false, 0},
        {"busy link after a write started", true, true, 19200, true, false, {}, true, 0},
    };
    for (const ViewCase& c : cases) {
        SCOPED_TRACE(c.name);
        calls().clear();
        form.LinkBusy = c.busy;
        form.MonitorRateSet = c.rateSetBefore;
        form.LinkRate = c.linkRateBefore;
        form.sound = c.sound;
        device->rate = 0;

        EXPECT_EQ(MonitorView(form), c.expectShown);

        EXPECT_EQ(calls(), c.calls);
        EXPECT_EQ(form.MonitorRateSet != 0, c.rateSetAfter);
        EXPECT_EQ(form.LinkBusy != 0, c.busy);
        EXPECT_EQ(device->rate, c.rateAfter);
        EXPECT_EQ(form.LinkRate, c.rateAfter ? c.rateAfter : c.linkRateBefore);
    }
}

TEST_F(Monitor, ViewSetsTheRateOnceEvenWhenThatCallFails) {
    device->failStatus = LINK_IO_ERROR;
    LastStatus = 0;
    EXPECT_TRUE(MonitorView(form));
    EXPECT_TRUE(MonitorView(form));
    EXPECT_TRUE(MonitorView(form));
    EXPECT_EQ(calls(), (Strings{"SetBaudRate 38400", "beep", "beep", "beep"}));
    EXPECT_EQ(LastStatus, 0u);
    EXPECT_EQ(form.statuses, Strings{});
}

TEST(MonitorKeys, EveryButtonInBothStates) {
    const std::string capitals = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/*-+\r";
    const std::string smalls = "abcdefghijklmnopqrstuvwxyz0123456789/*-+\r";
    for (int button = 1; button <= 41; ++button) {
        SCOPED_TRACE(button);
        EXPECT_EQ(KeyByte(button, false), static_cast<uint8_t>(capitals[button - 1]));
        EXPECT_EQ(KeyByte(button, true), static_cast<uint8_t>(smalls[button - 1]));
    }
    EXPECT_EQ(KeyByte(41, false), 0x0D);
    EXPECT_EQ(KeyByte(41, true), 0x0D);
    for (int notAKey : {0, 42, 43, 44, -1}) {
        EXPECT_EQ(KeyByte(notAKey, false), 0) << notAKey;
        EXPECT_EQ(KeyByte(notAKey, true), 0) << notAKey;
    }
}

struct KeyCase {
    const char* name;
    bool busy;
    bool sound;
    uint32_t linkRate;  // the rate the link is at
    Strings calls;
};

TEST_F(Monitor, SendKeyTable) {
    const KeyCase cases[] = {
        {"idle: beep, then exactly one byte", false, true, 38400, {"beep", "WriteBytes 0D"}},
        {"idle without Sound: only the byte", false, false, 38400, {"WriteBytes 0D"}},
        {"link left at 19200: the monitor rate first",
         false,
         true,
         19200,
         {"SetBaudRate 38400", "beep", "WriteBytes 0D"}},
        {"busy link: nothing written, no beep", true, true, 19200, {}},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        calls().clear();
        device->writes.clear();
        form.LinkBusy = c.busy;
        form.sound = c.sound;
        form.LinkRate = c.linkRate;
        LastStatus = 77;

        SendKey(form, KeyByte(41, false));

        EXPECT_EQ(calls(), c.calls);
        EXPECT_EQ(LastStatus, 77u);
        EXPECT_TRUE(form.monitorLines.empty());  // nothing is echoed locally
    }
}

TEST_F(Monitor, SendKeyWithNoConverterStillBeepsAndChangesNothing) {
    DeviceHandle = nullptr;
    form.LinkRate = kMonitorBitRate;
    LastStatus = 0;
    SendKey(form, 'A');
    EXPECT_EQ(calls(), (Strings{"beep"}));
    EXPECT_EQ(LastStatus, 0u);
}

TEST_F(Monitor, CpuResetWithTheLinkIdleRestartsTheTargetAndKeepsPumping) {
    // What the target sends while it restarts still reaches the display.
    form.At(150000, [&] { device->Feed({'h', 'i'}); });
    const int64_t start = form.clock.now;
    form.LinkRate = kMonitorBitRate;

    CpuReset(form);

    EXPECT_EQ(calls(), (Strings{"beep", "SetRts", "SetDtr", "ReadBytes 2", "ClearDtr"}));
    EXPECT_TRUE(device->rts);
    EXPECT_FALSE(device->dtr);
    EXPECT_EQ(form.LinkBusy, 0);
    EXPECT_EQ(form.WaitTicks, 0);
    EXPECT_GE(form.clock.now - start, TestForm::kTick);  // a two-tick wait
    EXPECT_EQ(form.monitorLines, (Strings{"hi"}));
}

TEST_F(Monitor, FwriteDuringCpuResetsWaitIsIgnored) {
    // LinkBusy is clear while CPU_RESET waits; a write started there would
    // have the restart's last line change land in the middle of its exchange.
    form.At(50000, [&] { Button1Click(form); });
    form.LinkRate = kMonitorBitRate;
    CpuReset(form);
    EXPECT_EQ(calls(), (Strings{"beep", "SetRts", "SetDtr", "ClearDtr"}));
    EXPECT_EQ(form.statuses, Strings{});
    EXPECT_EQ(form.MonitorRateSet, 0);

    // Once the restart is over, FWRITE works again.
    calls().clear();
    Button1Click(form);
    ASSERT_FALSE(calls().empty());
    EXPECT_EQ(calls().front(), "SetRts");
    EXPECT_EQ(form.MonitorRateSet, 1);
}

TEST_F(Monitor, CpuResetAfterAWriteThatFailedAt19200SwitchesToTheMonitorRateFirst) {
    form.MonitorRateSet = 1;
    form.LinkRate = 19200;
    CpuReset(form);
    EXPECT_EQ(calls(), (Strings{"SetBaudRate 38400", "beep", "SetRts", "SetDtr", "ClearDtr"}));
    EXPECT_EQ(form.LinkRate, kMonitorBitRate);
    EXPECT_EQ(form.statuses, Strings{});
}

TEST_F(Monitor, CpuResetWhileAWriteOwnsTheLinkIsRefused) {
    form.LinkBusy = 1;
    form.WaitTicks = 17;  // the write's own wait must not be disturbed
    CpuReset(form);
    EXPECT_EQ(calls(), Strings{});
    EXPECT_EQ(form.beeps, 0);
    EXPECT_EQ(form.LinkBusy, 1);
    EXPECT_EQ(form.WaitTicks, 17);
}

}  // namespace
