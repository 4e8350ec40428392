// The boot program's checks: checksums, addresses, erased areas, sequence,
// bit rates on both ends of the wire, and the injected faults.
#include "SimHost.h"
#include "sim/UserProgram.h"
#include "support/SimScope.h"

#include <gtest/gtest.h>

namespace {

TEST(SimBootProgram, RejectsBadChecksums) {
    struct Case {
        const char* what;
        Bytes frame;
        Bytes reply;
    };
    auto corrupt = [](Bytes f) {
        f.back() = static_cast<uint8_t>(f.back() + 1);
        return f;
    };
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimScope sim(form);
    Adjust(form);
    for (const Case& c : std::vector<Case>{
             {"device selection", corrupt(kSelectDevice), {0x90, 0x11}},
         })
        EXPECT_EQ(Exchange(form, c.frame, 2), c.reply) << c.what;
    ASSERT_EQ(Exchange(form, kSelectDevice), Bytes{0x06});
    EXPECT_EQ(Exchange(form, corrupt(kSelectClockMode), 2), (Bytes{0x91, 0x11}));
    ASSERT_EQ(Exchange(form, kSelectClockMode), Bytes{0x06});
    EXPECT_EQ(Exchange(form, corrupt(kNewBitRate38400), 2), (Bytes{0xBF, 0x11}));
    EXPECT_EQ(sim.board.Inspect().chipRate, 19200u) << "a rejected bit rate must not switch";
    ASSERT_EQ(Exchange(form, kNewBitRate38400), Bytes{0x06});
    SetBaudRate(DeviceHandle, 38400);
    ASSERT_EQ(Exchange(form, {0x06}), Bytes{0x06});
    ASSERT_EQ(Exchange(form, {0x40}, 1, 300), Bytes{0x06});
    ASSERT_EQ(Exchange(form, {0x43}), Bytes{0x06});
    EXPECT_EQ(Exchange(form, corrupt(Block(0, 0x12)), 2), (Bytes{0xD0, 0x11}));
    EXPECT_EQ(Exchange(form, {0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB5}, 2), (Bytes{0xD0, 0x11}));
    EXPECT_EQ(sim.board.Inspect().log.blocksProgrammed, 0);
    EXPECT_EQ(sim.board.Inspect().state, SimState::Programming);
}

TEST(SimBootProgram, ChecksBlockAddressesAndErasedAreas) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimOptions options;
    options.flashSize = 4096;
    SimScope sim(form, options);
    ToProgramming(form);
    struct Case {
        const char* what;
        uint32_t address;
        Bytes reply;
    };
    for (const Case& c : std::vector<Case>{
             {"first block", 0, {0x06}},
             {"last block", 4096 - 128, {0x06}},
             {"again onto a programmed block", 0, {0xD0, 0x53}},
             {"not 128-aligned", 200, {0xD0, 0x2A}},
             {"past the end", 4096, {0xD0, 0x2A}},
             {"far past the end", 0x00FFFF80, {0xD0, 0x2A}},
         })
        EXPECT_EQ(Exchange(form, Block(c.address, 0x3C), 2), c.reply) << c.what;
    EXPECT_EQ(sim.board.Inspect().log.blocksProgrammed, 2);
    EXPECT_EQ(sim.board.Inspect().flash[0], 0x3C);
    EXPECT_EQ(sim.board.Inspect().flash[4095], 0x3C);
    EXPECT_EQ(sim.board.Inspect().flash[128], 0xFF);
}

TEST(SimBootProgram, AnswersOutOfSequenceCommandsWithErrors) {
    struct Case {
        const char* what;
        Bytes before;  // accepted frames that lead there
        Bytes frame;
        Bytes reply;
    };
    const std::vector<Case> cases = {
        {"erase before any selection", {}, {0x40}, {0xC0, 0x80}},
        {"clock-mode inquiry before the device", {}, {0x21}, {0xA1, 0x80}},
        {"clock-mode selection before the device", {}, kSelectClockMode, {0x91, 0x80}},
        {"new bit rate before the clock mode", {0x10}, kNewBitRate38400, {0xBF, 0x80}},
        {"ratio inquiry before the clock mode", {0x10}, {0x22}, {0xA2, 0x80}},
        {"user MAT before the erase", {0x10, 0x11}, {0x43}, {0xC3, 0x80}},
        {"block before the user MAT", {0x10, 0x11}, Block(0, 0), {0xD0, 0x80}},
        {"confirmation without a new bit rate", {0x10}, {0x06}, {0x86, 0x80}},
        {"unknown command", {}, {0x77}, {0xF7, 0x80}},
    };
    for (const Case& c : cases) {
        TestForm form;
        form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
        SimScope sim(form);
        Adjust(form);
        for (uint8_t step : c.before)
            ASSERT_EQ(Exchange(form, step == 0x10 ? kSelectDevice : kSelectClockMode), Bytes{0x06}) << c.what;
        EXPECT_EQ(Exchange(form, c.frame, 2), c.reply) << c.what;
        EXPECT_EQ(sim.board.Inspect().log.erases, 0) << c.what;
    }
}

TEST(SimBootProgram, GarblesBytesWhenTheRatesDiffer) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimScope sim(form);
    EnterBootModeLines(form);
    form.WaitForTicks(1);

    // Adjustment bytes at the wrong rate are never measured.
    SetBaudRate(DeviceHandle, 38400);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Exchange(form, {0x00}, 1, 2), Bytes{}) << i;
    EXPECT_EQ(sim.board.Inspect().state, SimState::Adjusting);
    EXPECT_NE(sim.board.Inspect().log.chipReceived.front(), 0x00);

    // At 19200 it works; a host that forgets the new rate is not understood,
    // and the chip's reply at the new rate reaches it garbled.
    SetBaudRate(DeviceHandle, 19200);
    ASSERT_EQ(Exchange(form, {0x00}), Bytes{0x00});
    ASSERT_EQ(Exchange(form, {0x55}), Bytes{0xE6});
    ASSERT_EQ(Exchange(form, kSelectDevice), Bytes{0x06});
    ASSERT_EQ(Exchange(form, kSelectClockMode), Bytes{0x06});
    ASSERT_EQ(Exchange(form, kNewBitRate38400), Bytes{0x06});
    Bytes reply = Exchange(form, {0x06}, 2);
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_NE(reply[0], 0x06);
    EXPECT_EQ(sim.board.Inspect().state, SimState::RateConfirm);
    EXPECT_EQ(sim.board.Inspect().hostRate, 19200u);
    EXPECT_EQ(sim.board.Inspect().chipRate, 38400u);
    // The same mistake corrected.
    SetBaudRate(DeviceHandle, 38400);
    EXPECT_EQ(Exchange(form, {0x06}), Bytes{0x06});
    EXPECT_EQ(sim.board.Inspect().state, SimState::Selected);
}

// The new-bit-rate data after 3F 07: rate in 100 bit/s, the input clock the
// host names in 0.01 MHz, two ratios.
Bytes BitRateData(uint32_t rate, uint32_t clockUnits, uint8_t system, uint8_t peripheral) {
    const uint32_t r = rate / 100;
    return {static_cast<uint8_t>(r >> 8),
            static_cast<uint8_t>(r),
            static_cast<uint8_t>(clockUnits >> 8),
            static_cast<uint8_t>(clockUnits),
            0x02,
            system,
            peripheral};
}

TEST(SimBootProgram, ChecksTheNewBitRateFields) {
    struct Case {
        const char* what;
        Bytes data;  // after 3F 07
        Bytes reply;
    };
    // With 12.5 MHz x 2 the peripheral clock is 25 MHz: n = 0 gives
    // 781,250 / (N + 1) bit/s.
    const std::vector<Case> cases = {
        {"38400 at 12.5 MHz x4 x2 (N = 19, +1.7 %)", {0x01, 0x80, 0x04, 0xE2, 0x02, 0x04, 0x02}, {0x06}},
        {"9600", {0x00, 0x60, 0x04, 0xE2, 0x02, 0x04, 0x02}, {0x06}},
        {"115200 (N = 6, -3.1 %)", BitRateData(115200, 1250, 4, 2), {0x06}},
        {"390600 (N = 1)", BitRateData(390600, 1250, 4, 2), {0x06}},
        {"781200 (N = 0)", BitRateData(781200, 1250, 4, 2), {0x06}},
        {"751900: +3.9 %", BitRateData(751900, 1250, 4, 2), {0x06}},
        {"750000: +4.2 %", BitRateData(750000, 1250, 4, 2), {0xBF, 0x24}},
        {"1000000: above the fastest setting", BitRateData(1000000, 1250, 4, 2), {0xBF, 0x24}},
        {"300 needs n = 2", BitRateData(300, 1250, 4, 2), {0x06}},
        {"100 needs n = 3", BitRateData(100, 1250, 4, 2), {0x06}},
        {"0", BitRateData(0, 1250, 4, 2), {0xBF, 0x24}},
        {"16 MHz x2 x2, 500000 (N = 1, 0 %)", BitRateData(500000, 1600, 2, 2), {0x06}},
        {"input clock 20 MHz", {0x01, 0x80, 0x07, 0xD0, 0x02, 0x04, 0x02}, {0xBF, 0x25}},
        {"input clock 7.99 MHz", BitRateData(38400, 799, 4, 2), {0xBF, 0x25}},
        {"input clock 16.01 MHz", BitRateData(38400, 1601, 2, 2), {0xBF, 0x25}},
        {"input clock 8 MHz x1 x1", BitRateData(9600, 800, 1, 1), {0x06}},
        {"ratio 3", {0x01, 0x80, 0x04, 0xE2, 0x02, 0x03, 0x02}, {0xBF, 0x26}},
        {"ratio 8", BitRateData(38400, 1250, 8, 2), {0xBF, 0x26}},
        {"one ratio only", {0x01, 0x80, 0x04, 0xE2, 0x01, 0x04, 0x02}, {0xBF, 0x26}},
        {"peripheral clock 50 MHz", {0x01, 0x80, 0x04, 0xE2, 0x02, 0x04, 0x04}, {0xBF, 0x27}},
        {"system clock 64 MHz", BitRateData(38400, 1600, 4, 2), {0xBF, 0x27}},
    };
    for (const Case& c : cases) {
        TestForm form;
        form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
        SimScope sim(form);
        Adjust(form);
        ASSERT_EQ(Exchange(form, kSelectDevice), Bytes{0x06});
        ASSERT_EQ(Exchange(form, kSelectClockMode), Bytes{0x06});
        Bytes frame{0x3F, 0x07};
        frame.insert(frame.end(), c.data.begin(), c.data.end());
        EXPECT_EQ(Exchange(form, Framed(frame), 2), c.reply) << c.what;
    }
}

TEST(SimBootProgram, SerialSettingIsTheNearestOne) {
    struct Case {
        uint32_t peripheralUnits, rate;
        int n, N;
        double errorPercent;
    };
    for (const Case& c : std::vector<Case>{
             {2500, 38400, 0, 19, 1.725},
             {2500, 390600, 0, 1, 0.006},
             {2500, 9600, 0, 80, 0.469},
             {2500, 300, 2, 162, -0.147},
             {3200, 38400, 0, 25, 0.160},
         }) {
        const SerialSetting s = ChooseSerialSetting(c.peripheralUnits, c.rate);
        EXPECT_TRUE(s.accepted) << c.rate;
        EXPECT_EQ(s.n, c.n) << c.rate;
        EXPECT_EQ(s.N, c.N) << c.rate;
        EXPECT_NEAR(s.errorPercent, c.errorPercent, 0.01) << c.rate;
    }
}

TEST(SimBootProgram, DeviceAndClockModeContentIsChecked) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimScope sim(form);
    Adjust(form);
    EXPECT_EQ(Exchange(form, Framed({0x10, 0x04, '3', 'u', '0', '2'}), 2), (Bytes{0x90, 0x21}));
    EXPECT_FALSE(sim.board.Inspect().deviceSelected);
    ASSERT_EQ(Exchange(form, kSelectDevice), Bytes{0x06});
    EXPECT_EQ(Exchange(form, Framed({0x11, 0x01, 0x01}), 2), (Bytes{0x91, 0x22}));
    EXPECT_FALSE(sim.board.Inspect().clockModeSelected);
}

TEST(SimBootProgram, EraseTakesItsTimeAndLosesWhatArrivesMeanwhile) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimOptions options;
    options.eraseMicros = 25 * 1000000;  // a slow chip
    SimScope sim(form, options);
    ToNewBitRate(form);
    sim.board.LoadFlash(Bytes(256, 0x11));
    const int64_t start = form.clock.now;
    EXPECT_EQ(Exchange(form, {0x40}, 1, 200), Bytes{}) << "still erasing after 20 s";
    EXPECT_EQ(sim.board.Inspect().state, SimState::Erasing);
    EXPECT_EQ(Exchange(form, {0x43}, 1, 100), Bytes{0x06}) << "the erase's own acknowledgement";
    EXPECT_EQ(sim.board.Inspect().log.lostBytes, 1u);
    EXPECT_GE(form.clock.now - start, 25 * 1000000);
    EXPECT_EQ(sim.board.Inspect().flash[0], 0xFF);
    EXPECT_EQ(sim.board.Inspect().state, SimState::ProgramErase);
}

TEST(SimBootProgram, ProgrammingTimePerBlockDelaysTheAcknowledgement) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimOptions options;
    options.programMicros = 30000;
    SimScope sim(form, options);
    ToProgramming(form);
    const int64_t start = form.clock.now;
    EXPECT_EQ(Exchange(form, Block(0, 0x42)), Bytes{0x06});
    // 134 bytes out and one back at 38400 bit/s, plus the programming.
    const int64_t wire = 135 * 10 * 1000000LL / 38400;
    EXPECT_GE(form.clock.now - start, wire + 30000);
    EXPECT_LT(form.clock.now - start, wire + 30000 + 2000);
}

TEST(SimBootProgram, InjectedFaults) {
    struct Case {
        const char* what;
        SimOptions options;
        std::function<void(TestForm&, SimBoard&)> check;
    };
    auto with = [](std::function<void(SimOptions&)> set) {
        SimOptions o;
        set(o);
        return o;
    };
    const std::vector<Case> cases = {
        {"silent chip", with([](SimOptions& o) { o.silent = true; }),
         [](TestForm& form, SimBoard& board) {
             EnterBootModeLines(form);
             for (int i = 0; i < 10; ++i) EXPECT_EQ(Exchange(form, {0x00}, 1, 2), Bytes{});
             EXPECT_EQ(board.Inspect().state, SimState::AdjustConfirm) << "it hears, it does not answer";
         }},
        {"no 0xE6", with([](SimOptions& o) { o.noE6 = true; }),
         [](TestForm& form, SimBoard& board) {
             EnterBootModeLines(form);
             form.WaitForTicks(1);
             EXPECT_EQ(Exchange(form, {0x00}), Bytes{0x00});
             EXPECT_EQ(Exchange(form, {0x55}), Bytes{0xFF});
             EXPECT_EQ(board.Inspect().state, SimState::Adjusting);
         }},
        {"three 0x00 bytes needed", with([](SimOptions& o) { o.syncZeros = 3; }),
         [](TestForm& form, SimBoard&) {
             EnterBootModeLines(form);
             form.WaitForTicks(1);
             EXPECT_EQ(Exchange(form, {0x00}, 1, 2), Bytes{});
             EXPECT_EQ(Exchange(form, {0x00}, 1, 2), Bytes{});
             EXPECT_EQ(Exchange(form, {0x00}, 1, 2), Bytes{0x00});
         }},
        {"bytes during the start-up time are lost", with([](SimOptions& o) { o.startupMicros = 150000; }),
         [](TestForm& form, SimBoard& board) {
             EnterBootModeLines(form);
             EXPECT_EQ(Exchange(form, {0x00}, 1, 1), Bytes{});
             EXPECT_EQ(board.Inspect().log.lostBytes, 1u);
             form.WaitForTicks(1);
             EXPECT_EQ(Exchange(form, {0x00}), Bytes{0x00});
         }},
        {"another product", with([](SimOptions& o) { o.productName = "H8S/2378"; }),
         [](TestForm& form, SimBoard&) {
             Adjust(form);
             Bytes reply = Exchange(form, {0x20}, 17);
             EXPECT_NE(Text(reply).find("3u01H8S/2378"), std::string::npos);
             EXPECT_TRUE(SumsToZero(reply));
         }},
        {"error reply to the clock-mode selection", with([](SimOptions& o) { o.errorCommand = 0x11; }),
         [](TestForm& form, SimBoard& board) {
             Adjust(form);
             ASSERT_EQ(Exchange(form, kSelectDevice), Bytes{0x06});
             EXPECT_EQ(Exchange(form, kSelectClockMode, 2), (Bytes{0x91, 0x22}));
             EXPECT_FALSE(board.Inspect().clockModeSelected);
         }},
        {"error reply with a chosen code to the end command", with([](SimOptions& o) {
             o.errorCommand = kSimEndCommand;
             o.errorCode = 0x54;
         }),
         [](TestForm& form, SimBoard&) {
             ToProgramming(form);
             EXPECT_EQ(Exchange(form, Block(0, 1)), Bytes{0x06});
             EXPECT_EQ(Exchange(form, Bytes(proto::kEndCommand, proto::kEndCommand + 6), 2), (Bytes{0xD0, 0x54}));
         }},
        {"garbled device inquiry reply", with([](SimOptions& o) { o.garbleCommand = 0x20; }),
         [](TestForm& form, SimBoard&) {
             Adjust(form);
             Bytes reply = Exchange(form, {0x20}, 17);
             ASSERT_GT(reply.size(), 16u);
             EXPECT_NE(reply[0], 0x30);
             EXPECT_EQ(Text(reply).find_first_of("162"), std::string::npos);
         }},
        {"garbled block acknowledgement", with([](SimOptions& o) { o.garbleCommand = 0x50; }),
         [](TestForm& form, SimBoard&) {
             ToProgramming(form);
             Bytes reply = Exchange(form, Block(0, 1));
             ASSERT_EQ(reply.size(), 1u);
             EXPECT_NE(reply[0], 0x06);
         }},
        {"no reply to the third block", with([](SimOptions& o) { o.noReplyBlock = 3; }),
         [](TestForm& form, SimBoard& board) {
             ToProgramming(form);
             EXPECT_EQ(Exchange(form, Block(0, 1)), Bytes{0x06});
             EXPECT_EQ(Exchange(form, Block(128, 1)), Bytes{0x06});
             EXPECT_EQ(Exchange(form, Block(256, 1)), Bytes{});
             EXPECT_EQ(board.Inspect().log.blocksProgrammed, 2);
             EXPECT_EQ(Exchange(form, Block(384, 1)), Bytes{0x06});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestForm form;
        form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
        SimScope sim(form, c.options);
        c.check(form, sim.board);
    }
}

TEST(SimBootProgram, UnpluggedConverterFailsEverything) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimOptions options;
    options.unplugAfter = 3;
    SimScope sim(form, options);
    uint32_t rx = 0, tx = 0, ev = 0;
    EXPECT_EQ(GetStatus(DeviceHandle, &rx, &tx, &ev), LINK_OK);
    EXPECT_EQ(SetRts(DeviceHandle), LINK_OK);
    EXPECT_EQ(SetBaudRate(DeviceHandle, 38400), LINK_OK);
    EXPECT_NE(GetStatus(DeviceHandle, &rx, &tx, &ev), LINK_OK);
    uint8_t b = 0;
    uint32_t n = 7;
    EXPECT_NE(WriteBytes(DeviceHandle, &b, 1, &n), LINK_OK);
    EXPECT_NE(ReadBytes(DeviceHandle, &b, 1, &n), LINK_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_NE(SetDtr(DeviceHandle), LINK_OK);
    EXPECT_FALSE(sim.board.Inspect().dtr);
    EXPECT_TRUE(sim.board.Unplugged());
    char serial[SERIAL_NUMBER_SIZE];
    EXPECT_NE(ListSerialNumber(0, serial, LIST_BY_INDEX_SERIAL), LINK_OK);
    LinkHandle again = nullptr;
    EXPECT_NE(OpenBySerialNumber("SIM1622A", OPEN_BY_SERIAL_NUMBER, &again), LINK_OK);
}

TEST(SimProvider, ListsAndOpensByPrefix) {
    VirtualClock clock;
    SimProvider provider(SimOptions{}, clock, false);
    ASSERT_EQ(provider.List().size(), 1u);
    EXPECT_EQ(provider.List()[0].serial, "SIM1622A1");
    EXPECT_EQ(provider.List()[0].path, "sim");
    LinkDevice* a = nullptr;
    LinkDevice* b = nullptr;
    EXPECT_EQ(provider.Open("SIM1622A", &a), LINK_OK);
    EXPECT_EQ(provider.Open("SIM1622A1", &b), LINK_OK);
    EXPECT_EQ(a, b);
    LinkDevice* none = nullptr;
    for (const char* wrong : {"", "SIM1622B", "SIM1622A12", "FT1"})
        EXPECT_NE(provider.Open(wrong, &none), LINK_OK) << wrong;
    EXPECT_EQ(a->EventFd(), -1);
}

}  // namespace
