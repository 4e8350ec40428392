// The wire between converter and chip: the converter's rate rounding, the
// tolerance of the two ends' rates, the line's rate limit, the chip's real
// crystal, and the converter's latency.
#include "SimHost.h"
#include "support/SimScope.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

TEST(SimWire, ConverterRoundsToItsDividers) {
    struct Case {
        uint32_t asked, got;
    };
    for (const Case& c : std::vector<Case>{
             {9600, 9600},
             {19200, 19200},
             {38400, 38400},
             {115200, 115385},
             {390625, 393443},
             {781250, 774194},
             {2000000, 2000000},
             {3000000, 3000000},
         })
        EXPECT_EQ(SimWire::FtdiRate(c.asked), c.got) << c.asked;
}

// The adjustment at 19200 bit/s with the host at another rate: the chip
// measures its 0x00 only when the mismatch is within the tolerance, and the
// host reads its answer right.
TEST(SimWire, ASmallMismatchPassesABigOneGarbles) {
    struct Case {
        uint32_t hostRate;
        bool understood;
    };
    for (const Case& c : std::vector<Case>{
             {19200, true},
             {19769, true},
             {18650, true},  // within 3 %
             {20000, false},
             {18400, false},  // 4 % off
             {38400, false},
         }) {
        SCOPED_TRACE(c.hostRate);
        TestForm form;
        form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
        SimScope sim(form);
        EnterBootModeLines(form);
        form.WaitForTicks(1);
        SetBaudRate(DeviceHandle, c.hostRate);
        const Bytes reply = Exchange(form, {0x00}, 1, 2);
        EXPECT_EQ(reply == Bytes{0x00}, c.understood);
        EXPECT_EQ(sim.board.Inspect().state == SimState::AdjustConfirm, c.understood);
    }
}

// The confirmation at the new rate, with a line limit or a board crystal
// other than the clock the host names (12.50 MHz).
TEST(SimWire, NewBitRateMeetsTheLineLimitAndTheRealCrystal) {
    struct Case {
        const char* what;
        std::function<void(SimOptions&)> set;
        uint32_t chipLineRate;
        bool confirmed;
    };
    for (const Case& c : std::vector<Case>{
             {"the board's crystal as named", [](SimOptions&) {}, 39063, true},
             {"crystal 12.60 MHz (+2.5 % against the host)", [](SimOptions& o) { o.crystalUnits = 1260; }, 39375, true},
             {"crystal 13.00 MHz (+5.8 %)", [](SimOptions& o) { o.crystalUnits = 1300; }, 40625, false},
             {"crystal 16.00 MHz", [](SimOptions& o) { o.crystalUnits = 1600; }, 50000, false},
             {"line carries 40000", [](SimOptions& o) { o.maxRate = 40000; }, 39063, true},
             {"line carries 30000", [](SimOptions& o) { o.maxRate = 30000; }, 39063, false},
         }) {
        SCOPED_TRACE(c.what);
        TestForm form;
        form.LinkBusy = 1;
        SimOptions options;
        c.set(options);
        SimScope sim(form, options);
        Adjust(form);
        ASSERT_EQ(Exchange(form, kSelectDevice), Bytes{0x06});
        ASSERT_EQ(Exchange(form, kSelectClockMode), Bytes{0x06});
        ASSERT_EQ(Exchange(form, kNewBitRate38400), Bytes{0x06}) << "acknowledged at the old rate";
        EXPECT_EQ(sim.board.Inspect().chipRate, 38400u);
        EXPECT_EQ(sim.board.Inspect().chipLineRate, c.chipLineRate);
        SetBaudRate(DeviceHandle, 38400);
        const Bytes reply = Exchange(form, {0x06}, 1);
        EXPECT_EQ(reply == Bytes{0x06}, c.confirmed) << reply.size();
        EXPECT_EQ(sim.board.Inspect().state == SimState::Selected, c.confirmed);
    }
}

// A byte from the chip waits in the converter for the latency timer; a full
// USB packet goes at once.
TEST(SimWire, ConverterHoldsWhatItReceivesForItsLatency) {
    const int64_t byte = (10 * 1000000 + 38399) / 38400;  // 261 us at 38400 bit/s
    auto echoingBoard = [](int64_t latency) {
        SimOptions options;
        options.latencyMicros = latency;
        auto board = std::make_unique<SimBoard>(options);
        board->LoadFlash(Bytes(128, 0x11));  // a user program that echoes
        board->SetHostRate(38400);
        return board;
    };
    for (int64_t latency : {int64_t{0}, int64_t{1000}, int64_t{16000}}) {
        SCOPED_TRACE(latency);
        auto board = echoingBoard(latency);
        board->HostWrite(Bytes{'e'}.data(), 1);
        board->Advance(board->Now() + 2 * byte);  // there and back: the echo is in the converter
        EXPECT_EQ(board->HostReceiveQueue().size(), latency == 0 ? 1u : 0u);
        board->Advance(board->Now() + latency - 10);
        EXPECT_EQ(board->HostReceiveQueue().size(), latency == 0 ? 1u : 0u);
        board->Advance(board->Now() + 10);
        EXPECT_EQ(board->HostReceiveQueue(), std::deque<uint8_t>{'e'});
    }
    // 70 bytes echoed with a long latency: the first 62 are passed on as soon
    // as they are in, the rest when the timer runs out.
    auto board = echoingBoard(50000);
    const Bytes many(70, 'x');
    board->HostWrite(many.data(), static_cast<uint32_t>(many.size()));
    board->Advance(board->Now() + 63 * byte + 10);
    EXPECT_EQ(board->HostReceiveQueue().size(), 62u);
    board->Advance(board->Now() + 8 * byte + 40000);
    EXPECT_EQ(board->HostReceiveQueue().size(), 62u);
    board->Advance(board->Now() + 10000);
    EXPECT_EQ(board->HostReceiveQueue().size(), 70u);
}

}  // namespace
