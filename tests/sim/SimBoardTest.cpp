// The board around the boot program: reset and mode lines, the flash file,
// the user program's figures, the options text, and the real-time device.
#include "SimHost.h"
#include "sim/SimProvider.h"
#include "sim/UserProgram.h"
#include "support/SimScope.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

TEST(SimBoardLines, TheWritersSequencesChooseTheMode) {
    struct Start {
        const char* what;
        bool dtr, rts;
    };
    for (const Start& s : std::vector<Start>{{"both cleared", false, false},
                                             {"DTR set", true, false},
                                             {"RTS set", false, true},
                                             {"both set", true, true}}) {
        SCOPED_TRACE(s.what);
        TestForm form;
        form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
        SimScope sim(form);
        sim.board.LoadFlash(Bytes(300, 0x5A));
        (s.dtr ? SetDtr : ClearDtr)(DeviceHandle);
        (s.rts ? SetRts : ClearRts)(DeviceHandle);
        form.WaitForTicks(1);

        const int boots = sim.board.Inspect().log.bootRestarts;
        EnterBootModeLines(form);
        EXPECT_TRUE(sim.board.Inspect().dtr);
        EXPECT_FALSE(sim.board.Inspect().rts);
        EXPECT_GT(sim.board.Inspect().log.bootRestarts, boots);
        form.WaitForTicks(1);
        EXPECT_EQ(sim.board.Inspect().state, SimState::Adjusting);
        EXPECT_EQ(Exchange(form, {0x00}), Bytes{0x00});

        const int users = sim.board.Inspect().log.userRestarts;
        SetBaudRate(DeviceHandle, 38400);
        ResetTargetLines(form);
        EXPECT_FALSE(sim.board.Inspect().dtr);
        EXPECT_TRUE(sim.board.Inspect().rts);
        EXPECT_GT(sim.board.Inspect().log.userRestarts, users);
        Bytes banner = Collect(form, 40, 5);
        EXPECT_EQ(sim.board.Inspect().state, SimState::UserProgram);
        EXPECT_EQ(Text(banner), UserProgramBanner({384, static_cast<uint16_t>(300 * 0x5A + 84 * 0xFF)}));
    }
}

TEST(SimBoardLines, RtsAloneRestartsNothingAndABlankFlashStaysQuiet) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimScope sim(form);
    SetRts(DeviceHandle);
    ClearRts(DeviceHandle);
    EXPECT_EQ(sim.board.Inspect().log.Restarts(), 0);
    SetBaudRate(DeviceHandle, 38400);
    ResetTargetLines(form);
    EXPECT_EQ(sim.board.Inspect().log.userRestarts, 2);  // one per DTR change
    EXPECT_EQ(Collect(form, 1, 3), Bytes{});
    EXPECT_EQ(sim.board.Inspect().state, SimState::UserBlank);
    EXPECT_EQ(Exchange(form, {'x'}, 1, 2), Bytes{});
}

TEST(SimBoardFlash, PersistsBetweenRuns) {
    TempDir dir;
    SimOptions options;
    options.flashPath = dir.Sub("made/sub/flash.bin");  // folders made as needed
    options.flashSize = 8192;
    Bytes data(128);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    {
        TestForm form;
        form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
        SimScope sim(form, options);
        EXPECT_EQ(sim.board.Inspect().flashFileError, "");
        sim.board.LoadFlash(Bytes(8192, 0x00));  // erased by the session below
        ToProgramming(form);
        ASSERT_EQ(Exchange(form, BlockCommand(1024, data.data())), Bytes{0x06});
    }
    std::ifstream in(options.flashPath, std::ios::binary);
    Bytes onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(onDisk.size(), 8192u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), onDisk.begin() + 1024));
    EXPECT_EQ(onDisk[0], 0xFF);

    // The next run meets the program: its banner names it.
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimScope sim(form, options);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), sim.board.Inspect().flash.begin() + 1024));
    SetBaudRate(DeviceHandle, 38400);
    ResetTargetLines(form);
    uint32_t sum = 0;
    for (uint8_t b : data) sum += b;
    sum += 1024 * 0xFF;
    // From DTR cleared the sequence restarts the chip twice, but the second
    // restart comes before the first start has greeted: one banner.
    const std::string banner = UserProgramBanner({1152, static_cast<uint16_t>(sum)});
    EXPECT_EQ(sim.board.Inspect().log.userRestarts, 2);
    EXPECT_EQ(Text(Collect(form, 2 * banner.size(), 10)), banner);
}

TEST(SimBoardFlash, UnusableFileLeavesTheFlashInMemory) {
    SimOptions options;
    options.flashPath = "/proc/h8sxwriter-cannot-be-here/flash.bin";
    SimBoard board(options);
    EXPECT_NE(board.Inspect().flashFileError, "");
    board.LoadFlash(Bytes(10, 0x01));
    EXPECT_EQ(board.Inspect().flash[9], 0x01);
}

TEST(UserProgram, SizeAndSum) {
    auto flash = [](std::initializer_list<std::pair<size_t, Bytes>> parts) {
        Bytes f(1024, 0xFF);
        for (const auto& p : parts) std::copy(p.second.begin(), p.second.end(), f.begin() + p.first);
        return f;
    };
    const Bytes trailer{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'Q', 'X', 'A', '0', '6', '0', '2', '2', '0'};
    const uint16_t markerSum = 5 * 0xFF + 'Q' + 'X' + 'A' + '0' + '6' + '0' + '2' + '2' + '0';
    struct Case {
        const char* what;
        Bytes flash;
        uint32_t size;
        uint16_t sum;
    };
    const std::vector<Case> cases = {
        {"blank", flash({}), 0, 0},
        {"trailer right behind 200 bytes", flash({{0, Bytes(200, 1)}, {200, trailer}}), 200, 200},
        {"trailer at 0 (empty image)", flash({{0, trailer}}), 0, 0},
        {"image ending in 0xFF bytes", flash({{0, Bytes(10, 2)}, {10, Bytes(3, 0xFF)}, {13, trailer}}), 13,
         static_cast<uint16_t>(20 + 3 * 0xFF)},
        {"no trailer: end of the last block in use", flash({{0, Bytes(129, 3)}}), 256,
         static_cast<uint16_t>(129 * 3 + 127 * 0xFF)},
        {"cut marker counts as no trailer",
         flash({{0, Bytes(120, 4)}, {120, Bytes(trailer.begin(), trailer.begin() + 8)}}), 128,
         static_cast<uint16_t>(120 * 4 + 5 * 0xFF + 'Q' + 'X' + 'A')},
        {"data behind the trailer is not counted", flash({{0, Bytes(5, 5)}, {5, trailer}, {600, Bytes(1, 9)}}), 5, 25},
    };
    (void)markerSum;
    for (const Case& c : cases) {
        FlashSummary s = SummarizeFlash(c.flash.data(), c.flash.size());
        EXPECT_EQ(s.size, c.size) << c.what;
        EXPECT_EQ(s.sum, c.sum) << c.what;
    }
    EXPECT_EQ(UserProgramBanner({3000, 0x1A2B}), "H8SX/1622 user program: 3000 bytes, sum 0x1A2B\r\n");
    EXPECT_EQ(UserProgramBanner({983092, 0x000F}), "H8SX/1622 user program: 983092 bytes, sum 0x000F\r\n");
}

TEST(SimOptionsText, ParsesEveryKey) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions("", &o, &error)) << error;
    EXPECT_EQ(o.flashPath, DefaultSimFlashPath());
    EXPECT_EQ(o.flashSize, 1u << 20);
    EXPECT_EQ(o.eraseMicros, 500000);
    EXPECT_EQ(o.startupMicros, 5000);
    EXPECT_EQ(o.programMicros, 1000);
    EXPECT_EQ(o.latencyMicros, 1000);
    EXPECT_EQ(o.crystalUnits, 1250u);
    EXPECT_EQ(o.maxRate, 0u);

    ASSERT_TRUE(
        ParseSimOptions("flash=/tmp/f.bin,flash-size=512K,startup-time=200us,erase-time=20s,"
                        "program-time=2ms,sync-zeros=4,product=H8S/2378,silent,no-e6=1,"
                        "error=3F:0x25,garble=end,no-reply-block=7,unplug-after=120,corrupt=0x1F0:5A,"
                        "clock=12.8,max-rate=115200,latency=16ms",
                        &o, &error))
        << error;
    EXPECT_EQ(o.flashPath, "/tmp/f.bin");
    EXPECT_EQ(o.flashSize, 512u * 1024);
    EXPECT_EQ(o.startupMicros, 200);
    EXPECT_EQ(o.eraseMicros, 20000000);
    EXPECT_EQ(o.programMicros, 2000);
    EXPECT_EQ(o.syncZeros, 4);
    EXPECT_EQ(o.productName, "H8S/2378");
    EXPECT_TRUE(o.silent);
    EXPECT_TRUE(o.noE6);
    EXPECT_EQ(o.errorCommand, 0x3F);
    EXPECT_EQ(o.errorCode, 0x25);
    EXPECT_EQ(o.garbleCommand, kSimEndCommand);
    EXPECT_EQ(o.noReplyBlock, 7u);
    EXPECT_EQ(o.unplugAfter, 120);
    EXPECT_EQ(o.corruptAddress, 0x1F0);
    EXPECT_EQ(o.corruptValue, 0x5A);
    EXPECT_EQ(o.crystalUnits, 1280u);
    EXPECT_EQ(o.maxRate, 115200u);
    EXPECT_EQ(o.latencyMicros, 16000);

    ASSERT_TRUE(ParseSimOptions("flash=none,erase-time=750,error=0x50,corrupt=4096", &o, &error)) << error;
    EXPECT_EQ(o.flashPath, "");
    EXPECT_EQ(o.eraseMicros, 750000);
    EXPECT_EQ(o.errorCommand, 0x50);
    EXPECT_EQ(o.errorCode, -1);
    EXPECT_EQ(o.corruptAddress, 4096);
    EXPECT_EQ(o.corruptValue, -1);
    ASSERT_TRUE(ParseSimOptions("error=4D,garble=52,clock=16", &o, &error)) << error;
    EXPECT_EQ(o.crystalUnits, 1600u);
    EXPECT_EQ(o.errorCommand, 0x4D);
    EXPECT_EQ(o.garbleCommand, 0x52);
}

TEST(SimOptionsText, DefaultFlashFileLivesInTheCacheFolder) {
    struct Case {
        const char* cache;  // XDG_CACHE_HOME; nullptr: unset
        const char* path;
    };
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    const std::string cache = std::getenv("XDG_CACHE_HOME") ? std::getenv("XDG_CACHE_HOME") : "";
    const bool hadCache = std::getenv("XDG_CACHE_HOME") != nullptr;
    ::setenv("HOME", "/home/u", 1);
    for (const Case& c : std::vector<Case>{
             {"/var/cache/u", "/var/cache/u/h8sxwriter/simflash.bin"},
             {nullptr, "/home/u/.cache/h8sxwriter/simflash.bin"},
             {"", "/home/u/.cache/h8sxwriter/simflash.bin"},
             {"relative/cache", "/home/u/.cache/h8sxwriter/simflash.bin"},
         }) {
        if (c.cache)
            ::setenv("XDG_CACHE_HOME", c.cache, 1);
        else
            ::unsetenv("XDG_CACHE_HOME");
        EXPECT_EQ(DefaultSimFlashPath(), c.path) << (c.cache ? c.cache : "(unset)");
    }
    ::setenv("HOME", home.c_str(), 1);
    if (hadCache)
        ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
}

TEST(SimOptionsText, RejectsUnknownKeysAndBadValues) {
    struct Case {
        const char* text;
        const char* inMessage;
    };
    for (const Case& c : std::vector<Case>{
             {"colour=red", "unknown option \"colour\""},
             {"erase-time=fast", "erase-time"},
             {"erase-time=-1s", "erase-time"},
             {"erase-time=2h", "erase-time"},
             {"flash-size=1000", "flash-size"},
             {"flash-size=0", "flash-size"},
             {"flash-size=32M", "flash-size"},
             {"sync-zeros=0", "sync-zeros"},
             {"product=", "product"},
             {"silent=maybe", "silent"},
             {"error=0x99", "error"},
             {"error=0x00", "error"},
             {"error=3F:end", "error"},
             {"garble=xyz", "garble"},
             {"no-reply-block=0", "no-reply-block"},
             {"unplug-after=many", "unplug-after"},
             {"corrupt=1M", "corrupt"},
             {"clock=12.555", "clock"},
             {"clock=12.", "clock"},
             {"clock=0.5", "clock"},
             {"clock=fast", "clock"},
             {"max-rate=0", "max-rate"},
             {"latency=1us1", "latency"},
             {"corrupt=0x:1", "corrupt"},
             {"corrupt=16:100", "corrupt"},
             {"flash-size=4K,corrupt=4096", "outside the flash"},
             {"erase-time", "needs a value"},
             {"silent,,no-e6", "empty option"},
         }) {
        SimOptions o;
        std::string error;
        EXPECT_FALSE(ParseSimOptions(c.text, &o, &error)) << c.text;
        EXPECT_NE(error.find(c.inMessage), std::string::npos) << c.text << ": " << error;
    }
}

TEST(SimBoardTime, AHostOnRealTimeLooksOnceAFrameHasArrived) {
    SimBoard board{SimOptions{}};
    board.SetHostRate(38400);
    const Bytes frame(134, 0x5A);
    board.HostWrite(frame.data(), static_cast<uint32_t>(frame.size()));
    const int64_t byte = 10 * 1000000 / 38400;  // whole microseconds
    // Each byte is an event of its own, but the host is woken for the last.
    EXPECT_NEAR(board.NextDue(), board.Now() + byte, 1);
    EXPECT_NEAR(board.NextWake(), board.Now() + 134 * 10 * 1000000 / 38400, 134);
    board.Advance(board.NextWake());
    EXPECT_EQ(board.HostPendingTx(), 0u);
    EXPECT_EQ(board.NextWake(), board.NextDue());
}

TEST(SimRealTime, TimerDescriptorWakesForTheBoardsEvents) {
    RealClock clock;
    SimOptions options;
    options.startupMicros = 20000;
    auto owned = std::make_unique<SimProvider>(options, clock, true);
    SimProvider& provider = *owned;
    SetLinkProvider(std::move(owned));
    LinkHandle h = nullptr;
    ASSERT_EQ(OpenBySerialNumber("SIM1622A", OPEN_BY_SERIAL_NUMBER, &h), LINK_OK);
    provider.Board().LoadFlash(Bytes(128, 0x01));
    SetBaudRate(h, 38400);
    EXPECT_EQ(LinkNextDue(h), -1);
    const int fd = LinkEventFd(h);
    ASSERT_GE(fd, 0);

    SetRts(h);
    SetDtr(h);  // restart into the user program: banner after 20 ms
    const int64_t start = clock.NowMicros();
    std::string got;
    int wakeups = 0;
    while (got.find('\n') == std::string::npos && clock.NowMicros() - start < 2000000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0) continue;
        ++wakeups;
        LinkService(h);
        uint32_t rx = 0, tx = 0, ev = 0;
        GetStatus(h, &rx, &tx, &ev);
        char buf[256];
        uint32_t n = 0;
        ReadBytes(h, buf, rx, &n);
        got.append(buf, n);
    }
    EXPECT_EQ(got, UserProgramBanner({128, 128}));
    EXPECT_GE(clock.NowMicros() - start, 20000);
    // One wake-up per event (start-up, then each banner byte), no spinning.
    EXPECT_LE(wakeups, 1 + static_cast<int>(got.size()) + 2);
    SetLinkProvider(nullptr);
}

}  // namespace

namespace {
TEST(SimBoardLines, LoadedFlashRunsAsIfStartedLongAgo) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimScope sim(form);
    EXPECT_EQ(sim.board.Inspect().state, SimState::UserBlank);
    sim.board.LoadFlash(Bytes(10, 0x22));
    EXPECT_EQ(sim.board.Inspect().state, SimState::UserProgram);
    SetBaudRate(DeviceHandle, 38400);
    EXPECT_EQ(Text(Exchange(form, {'o', 'k'}, 2)), "ok");
    // At the wrong rate the echo is garbled both ways.
    SetBaudRate(DeviceHandle, 19200);
    Bytes echo = Exchange(form, {'o'}, 1);
    ASSERT_EQ(echo.size(), 1u);
    EXPECT_NE(echo[0], 'o');
}
}  // namespace
