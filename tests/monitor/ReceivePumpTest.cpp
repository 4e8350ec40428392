#include "monitor/ReceivePump.h"

#include "MonitorFixture.h"

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class MonitorPump : public MonitorFixture {
protected:
    void SetUp() override {
        MonitorFixture::SetUp();
        log().logStatusPolls = true;
        LastStatus = 77;  // a value no pump step would store
    }
    void Feed(const std::string& bytes) { device->rx.insert(device->rx.end(), bytes.begin(), bytes.end()); }
};

// One tick, from one starting state each.
struct OneTick {
    const char* name;
    bool busy;
    std::string waiting;
    uint32_t failRead;
    Strings driverCalls;
    Strings lines;
    uint32_t lastStatus;
    size_t leftQueued;
};

TEST_F(MonitorPump, OneTickTable) {
    const std::string z(1, '\0');
    const OneTick cases[] = {
        {"busy link: not a single driver call", true, "hello", 0, {}, {}, 77, 5},
        {"nothing waiting: one status query, no read", false, "", 0, {"GetStatus"}, {}, 77, 0},
        {"a few bytes: one line", false, "Ready>", 0, {"GetStatus", "ReadBytes 6"}, {"Ready>"}, 0, 0},
        {"a zero byte ends the line, the rest of the read is dropped",
         false,
         "AB" + z + "CD",
         0,
         {"GetStatus", "ReadBytes 5"},
         {"AB"},
         0,
         0},
        {"a leading zero byte gives an empty line", false, z + "xyz", 0, {"GetStatus", "ReadBytes 4"}, {""}, 0, 0},
        {"bytes above 0x7F come through unchanged",
         false,
         "\xB0\xFF\x80",
         0,
         {"GetStatus", "ReadBytes 3"},
         {"\xB0\xFF\x80"},
         0,
         0},
        {"a failed read shows nothing and keeps its status",
         false,
         "lost?",
         LINK_IO_ERROR,
         {"GetStatus", "ReadBytes 5"},
         {},
         LINK_IO_ERROR,
         5},
    };
    for (const OneTick& c : cases) {
        SCOPED_TRACE(c.name);
        device->rx.clear();
        calls().clear();
        form.monitorLines.clear();
        LastStatus = 77;
        form.LinkBusy = c.busy ? 1 : 0;
        device->failReads = c.failRead;
        Feed(c.waiting);

        Timer1Timer(form);

        EXPECT_EQ(calls(), c.driverCalls);
        EXPECT_EQ(form.monitorLines, c.lines);
        EXPECT_EQ(LastStatus, c.lastStatus);
        EXPECT_EQ(device->rx.size(), c.leftQueued);
    }
}

TEST_F(MonitorPump, ThreeHundredBytesArriveAsTwoLinesOnTwoTicks) {
    std::string burst;
    for (int i = 0; i < 300; ++i) burst += static_cast<char>(1 + i % 255);  // no zero byte
    Feed(burst);

    Timer1Timer(form);
    EXPECT_EQ(calls(), (Strings{"GetStatus", "ReadBytes 255"}));
    ASSERT_EQ(form.monitorLines.size(), 1u);
    EXPECT_EQ(form.monitorLines[0], burst.substr(0, 255));
    EXPECT_EQ(device->rx.size(), 45u);

    calls().clear();
    Timer1Timer(form);
    EXPECT_EQ(calls(), (Strings{"GetStatus", "ReadBytes 45"}));
    ASSERT_EQ(form.monitorLines.size(), 2u);
    EXPECT_EQ(form.monitorLines[1], burst.substr(255));

    calls().clear();
    Timer1Timer(form);
    EXPECT_EQ(calls(), (Strings{"GetStatus"}));
    EXPECT_EQ(form.monitorLines.size(), 2u);
}

TEST_F(MonitorPump, AfterAFailedReadTheNextTickTakesWhatWaits) {
    Feed("abc");
    device->failReads = LINK_IO_ERROR;
    Timer1Timer(form);
    EXPECT_TRUE(form.monitorLines.empty());

    device->failReads = LINK_OK;
    Feed("def");
    Timer1Timer(form);
    EXPECT_EQ(form.monitorLines, (Strings{"abcdef"}));
    EXPECT_EQ(LastStatus, 0u);
}

TEST_F(MonitorPump, WaitingBytesWaitOutABusyLinkAndTheCountdownGoesOn) {
    Feed("banner");
    form.LinkBusy = 1;
    form.WaitTicks = 3;
    Timer1Timer(form);
    Timer1Timer(form);
    EXPECT_TRUE(form.monitorLines.empty());
    EXPECT_EQ(form.WaitTicks, 1);

    form.LinkBusy = 0;
    Timer1Timer(form);
    EXPECT_EQ(form.monitorLines, (Strings{"banner"}));
    EXPECT_EQ(form.WaitTicks, 0);
}

TEST_F(MonitorPump, WithNoConverterOpenNothingIsAdded) {
    DeviceHandle = nullptr;
    Timer1Timer(form);
    EXPECT_TRUE(form.monitorLines.empty());
    EXPECT_EQ(LastStatus, 77u);
}

}  // namespace
