// Writes at chosen bit rates on the simulated board, on virtual time.
#include "cli/RatedWrite.h"

#include "bootmode/WriteCommand.h"
#include "image/ProgramImage.h"
#include "protocol/Protocol.h"
#include "support/SimScope.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

// The transfer of a fixed image with the given options.
TransferStep Programming(const FlashImage& image, ProgramOptions options = ProgramOptions{}) {
    return [&image, options](FormCore& form) { return ProgramImage(form, image, options); };
}

// An image laid out like a real program with erased flash between its parts:
// vectors at 0, code at 0x100, constants at 0x4000 and a table from 0x10000
// (66,740 bytes, 522 blocks, 14 of them used).
std::unique_ptr<FlashImage> SparseImage() {
    auto image = std::make_unique<FlashImage>();
    uint8_t* b = image->Bytes();
    std::fill(b, b + 0x104B4, 0xFF);
    for (int i = 0; i < 256; ++i) b[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 34; ++i) b[0x100 + i] = static_cast<uint8_t>(0x7A ^ i);
    for (int i = 0; i < 32; ++i) b[0x4000 + i] = static_cast<uint8_t>(0x40 + i);
    for (int i = 0; i < 1204; ++i) b[0x10000 + i] = static_cast<uint8_t>(i * 7);
    image->ImageLength = 0x104B4;
    image->StoreTrailer();
    return image;
}

std::vector<uint32_t> BlockAddresses(const SimBoard& board) {
    std::vector<uint32_t> at;
    for (const Bytes& f : board.Inspect().log.FramesOf(proto::kProgram))
        if (f.size() == proto::kBlockCommandSize) at.push_back(uint32_t(f[1]) << 24 | f[2] << 16 | f[3] << 8 | f[4]);
    return at;
}

ClockSetup Clock(uint16_t units) {
    ClockSetup c;
    c.inputUnits = units;
    return c;
}

// The flash after the window's own write of the image: every block at
// 38400 bit/s.
Bytes FlashOfTheWindowsWrite(const FlashImage& image) {
    TestForm form;
    SimScope sim(form);
    const WriteOutcome w = Button1Click(form, Programming(image));
    EXPECT_TRUE(w.Done());
    EXPECT_EQ(w.blocksSent, 522u);
    EXPECT_EQ(w.bitRate, 38400u);
    return sim.board.Inspect().flash;
}

TEST(RatedWrite, FastSkippingWriteLeavesTheFlashOfTheWindowsWrite) {
    const auto image = SparseImage();
    const Bytes expected = FlashOfTheWindowsWrite(*image);

    // The board's own 12.50 MHz crystal, and one of 12.00 MHz told as such.
    struct Case {
        uint16_t crystal;
        uint32_t rate;
    };
    for (const Case& c : {Case{1250, 781200}, Case{1200, 750000}}) {
        SCOPED_TRACE(c.crystal);
        TestForm form;
        SimOptions board;
        board.crystalUnits = c.crystal;
        SimScope sim(form, board);
        const ClockSetup clock = Clock(c.crystal);
        ProgramOptions skip;
        skip.skipBlank = true;
        uint32_t attempts = 0;
        const WriteOutcome w =
            WriteAtRates(form, Programming(*image, skip), UsableRates(clock), clock, true, &attempts);

        EXPECT_TRUE(w.Done());
        EXPECT_EQ(attempts, 1u);
        EXPECT_EQ(w.bitRate, c.rate);
        EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
        EXPECT_TRUE(sim.board.Inspect().flash == expected);
        EXPECT_EQ(w.blocksSent, 14u);
        EXPECT_EQ(w.blocksSkipped, 508u);
        // Only the blocks that hold data went out, and the one with the trailer.
        std::vector<uint32_t> wanted = {0, 128, 256, 0x4000};
        for (uint32_t at = 0x10000; at < 0x104B4; at += 128) wanted.push_back(at);
        EXPECT_EQ(BlockAddresses(sim.board), wanted);
        EXPECT_EQ(form.progressPos, form.progressMax);
        // The new-bit-rate command told the rate and the clock.
        const auto told = sim.board.Inspect().log.FramesOf(proto::kNewBitRate);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0][2] << 8 | told[0][3], static_cast<int>(c.rate / 100));
        EXPECT_EQ(told[0][4] << 8 | told[0][5], c.crystal);
    }
}

TEST(RatedWrite, FastestFallsBackWhereTheLineCannotFollow) {
    // A converter or cable that garbles everything above 400,000 bit/s: the
    // confirmation at 781,200 fails, and the write at 390,600 goes through.
    const auto image = SparseImage();
    const Bytes expected = FlashOfTheWindowsWrite(*image);
    TestForm form;
    SimOptions board;
    board.maxRate = 400000;
    SimScope sim(form, board);
    uint32_t attempts = 0;
    const WriteOutcome w =
        WriteAtRates(form, Programming(*image), UsableRates(ClockSetup{}), ClockSetup{}, true, &attempts);
    EXPECT_TRUE(w.Done());
    EXPECT_EQ(attempts, 2u);
    EXPECT_EQ(w.bitRate, 390600u);
    EXPECT_EQ(w.blocksSent, 522u);
    EXPECT_TRUE(sim.board.Inspect().flash == expected);
    const auto message =
        std::find(form.statuses.begin(), form.statuses.end(), "bit rate 781200 failed, again at 390600");
    ASSERT_NE(message, form.statuses.end());
    EXPECT_EQ(*(message - 1), "new bps rate err 10");
    EXPECT_EQ(sim.board.Inspect().log.bootRestarts, 2);
}

TEST(RatedWrite, AWrongClockGarblesTheNewRate) {
    // The writer names 12.50 MHz, the board runs on 12.00 MHz: the chip's port
    // runs 4 % slow of what both ends agreed, and the confirmation is garbled.
    // The other way round it runs 4 % fast.
    struct Case {
        uint16_t crystal, told;
        uint32_t rate;
    };
    const auto image = SparseImage();
    for (const Case& c : {Case{1200, 1250, 390600}, Case{1250, 1200, 750000}}) {
        SCOPED_TRACE(c.crystal);
        TestForm form;
        SimOptions board;
        board.crystalUnits = c.crystal;
        SimScope sim(form, board);
        const ClockSetup clock = Clock(c.told);
        const WriteOutcome w = WriteAtRates(form, Programming(*image), {PlanRate(c.rate, clock)}, clock, false);
        EXPECT_EQ(w.stage, WriteStage::NewBitRateConfirm);
        EXPECT_TRUE(w.rateSuspect);
        EXPECT_EQ(form.LastStatusText(), "new bps rate err 10");
        EXPECT_TRUE(sim.board.Inspect().log.FramesOf(proto::kProgram).empty());
    }
}

TEST(RatedWrite, RateTheChipRefusesEndsAtTheNewBitRateStage) {
    // 150,000 bit/s with a 12.50 MHz clock: the chip's nearest setting is
    // 4.2 % off and it answers the new-bit-rate command with an error.
    TestForm form;
    const auto image = SparseImage();
    SimScope sim(form);
    const RatePlan refused = PlanRate(150000, ClockSetup{});
    ASSERT_FALSE(refused.chipAccepts);
    uint32_t attempts = 0;
    const WriteOutcome w = WriteAtRates(form, Programming(*image), {refused, PlanRate(38400, ClockSetup{})},
                                        ClockSetup{}, true, &attempts);

    EXPECT_EQ(w.stage, WriteStage::NewBitRate);
    EXPECT_EQ(attempts, 1u) << "a refusal is not a rate the wire misses: no fallback";
    EXPECT_EQ(form.LastStatusText(), "new bps rate err 9");
    EXPECT_LE(form.clock.now, 5 * 1000000) << "the stage's own wait, no hang";
    EXPECT_TRUE(sim.board.Inspect().log.FramesOf(proto::kProgram).empty());
}

TEST(RatedWrite, FallsBackOnlyFromFailuresOfTheRate) {
    struct Case {
        const char* what;
        int garble = -1, error = -1, code = -1;  // the board's fault
        bool fallBack;
        uint32_t attempts;
        const char* last;
    };
    const Case cases[] = {
        {"confirmation garbled", proto::kBitRateConfirm, -1, -1, true, 2, "new bps rate err 10"},
        {"confirmation garbled, no fallback", proto::kBitRateConfirm, -1, -1, false, 1, "new bps rate err 10"},
        {"block replies garbled", proto::kProgram, -1, -1, true, 2, "response err"},
        {"checksum errors for blocks", -1, proto::kProgram, proto::kErrChecksum, true, 2, "response err"},
        {"address errors for blocks", -1, proto::kProgram, proto::kErrAddress, true, 1, "response err"},
        {"erase fails", -1, proto::kEnterProgramming, -1, true, 1, "Erase err 11"},
    };
    const ClockSetup clock;
    const std::vector<RatePlan> rates = {PlanRate(781200, clock), PlanRate(390600, clock)};
    const auto image = SparseImage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestForm form;
        SimOptions options;
        options.garbleCommand = c.garble;
        options.errorCommand = c.error;
        options.errorCode = c.code;
        SimScope sim(form, options);
        uint32_t attempts = 0;
        const WriteOutcome w = WriteAtRates(form, Programming(*image), rates, clock, c.fallBack, &attempts);
        EXPECT_FALSE(w.Done());
        EXPECT_EQ(attempts, c.attempts);
        EXPECT_EQ(w.bitRate, rates[c.attempts - 1].told);
        EXPECT_EQ(form.LastStatusText(), c.last);
        const bool said = std::find(form.statuses.begin(), form.statuses.end(),
                                    "bit rate 781200 failed, again at 390600") != form.statuses.end();
        EXPECT_EQ(said, c.attempts == 2);
        EXPECT_EQ(sim.board.Inspect().log.bootRestarts, static_cast<int>(c.attempts)) << "each attempt from a restart";
    }
}

}  // namespace
