// The verify after a write and the erase with its blank check, on the
// simulated board on virtual time: the host's commands against the board's
// answers, with the image read and checked first as the command line does.
#include "bootmode/BitRate.h"
#include "bootmode/BootSequence.h"
#include "bootmode/FlashVerify.h"
#include "bootmode/WriteCommand.h"
#include "core/BoardState.h"
#include "image/FlashImage.h"
#include "image/ImageReader.h"
#include "image/ProgramImage.h"
#include "image/SRecordText.h"
#include "image/TransferImage.h"
#include "protocol/Protocol.h"
#include "support/SimScope.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr uint32_t kFlashSize = 64 * 1024;

// A sparse image: data at 0, 0x300 and 0x2000, the blocks between all 0xFF
// (sent, but to be read back as erased), the trailer's start in the last
// block behind 0x2000 + 40.
std::string SparseFile() {
    return Lines({Record('1', 0, Counting(16, 0xA0)), Record('1', 0x300, Counting(16, 0x10)),
                  Record('2', 0x2000, Counting(40, 0x55)), Record('8', 0)});
}

SimOptions Board(int64_t corruptAddress = -1, int corruptValue = -1) {
    SimOptions o;
    o.flashSize = kFlashSize;
    o.corruptAddress = corruptAddress;
    o.corruptValue = corruptValue;
    return o;
}

struct Written {
    std::unique_ptr<FlashImage> image = std::make_unique<FlashImage>();
    WriteOutcome outcome;
};

// The write with the checked image of `text` and the verify of `mode` after
// it, before the final restart.
Written WriteAndVerify(TestForm& form, const std::string& text, VerifyMode mode, bool skipBlank = false,
                       const BootRate& rate = BootRate{}) {
    Written w;
    ProgramOptions programming;
    programming.skipBlank = skipBlank;
    const ReadResult read = ReadImageMemory(text.data(), text.size(), *w.image);
    EXPECT_TRUE(read.Accepted()) << read.message;
    const FlashImage& image = *w.image;
    w.outcome = Button1Click(
        form,
        [&](FormCore& f) {
            return VerifyAfterWrite(f, TransferCheckedImage(f, image, read, programming), image.Bytes(),
                                    image.ProgrammedEnd(), mode);
        },
        rate);
    return w;
}

// The 32-bit byte-wise sum of the board's flash.
uint32_t FlashSum(const SimScope& sim) {
    uint32_t sum = 0;
    for (uint8_t b : sim.board.Inspect().flash) sum += b;
    return sum;
}

uint32_t Be32(const Bytes& frame, size_t at) {
    return uint32_t{frame[at]} << 24 | uint32_t{frame[at + 1]} << 16 | uint32_t{frame[at + 2]} << 8 | frame[at + 3];
}

// Blank blocks, sent or skipped, are compared as 0xFF all the same.
TEST(VerifyOnSim, PassesAfterAGoodWriteInBothModes) {
    for (bool skipBlank : {false, true}) {
        for (VerifyMode mode : {VerifyMode::Read, VerifyMode::Sum}) {
            SCOPED_TRACE(std::string(mode == VerifyMode::Read ? "read" : "sum") +
                         (skipBlank ? ", blank blocks skipped" : ""));
            TestForm form;
            SimScope sim(form, Board());
            const Written w = WriteAndVerify(form, SparseFile(), mode, skipBlank);
            const uint32_t end = w.image->ProgrammedEnd();
            ASSERT_EQ(end, 0x2080u);

            EXPECT_EQ(w.outcome.result, WriteResult::Done) << w.outcome.message;
            EXPECT_EQ(w.outcome.verify.mode, mode);
            EXPECT_TRUE(w.outcome.verify.passed) << w.outcome.verify.message;
            EXPECT_EQ(w.outcome.blocksSent, skipBlank ? 3u : 65u);  // what programming did stays in the outcome
            EXPECT_EQ(form.LinkBusy, 0);
            const auto& log = sim.board.Inspect().log;
            if (mode == VerifyMode::Read) {
                EXPECT_EQ(w.outcome.verify.bytesCompared, end);
                EXPECT_EQ(w.outcome.verify.message, "verify OK, 8320 bytes compared");
                // Memory reads (52 size area address length) from 0 up, none larger than a chunk,
                // covering the programmed range without a gap.
                uint32_t next = 0;
                for (const Bytes& f : log.FramesOf(proto::kMemoryRead)) {
                    EXPECT_EQ(Be32(f, 3), next);
                    EXPECT_LE(Be32(f, 7), kVerifyChunk);
                    next += Be32(f, 7);
                }
                EXPECT_EQ(next, end);
            } else {
                EXPECT_EQ(w.outcome.verify.bytesCompared, kFlashSize);
                EXPECT_EQ(w.outcome.verify.expectedSum, FlashSum(sim));
                EXPECT_EQ(w.outcome.verify.actualSum, FlashSum(sim));
                EXPECT_EQ(log.FramesOf(proto::kMemoryRead).size(), 0u);
            }
            // The verify ran between the end command and the restart into the
            // new program.
            sim.board.Advance(form.clock.now + 100000);
            EXPECT_EQ(sim.board.Inspect().state, SimState::UserProgram);
        }
    }
}

// At a slow rate each 1 KiB reply takes seconds on the wire; the read-back
// waits for it.
TEST(VerifyOnSim, ReadsBackAtASlowRate) {
    TestForm form;
    SimScope sim(form, Board());
    const RatePlan plan = PlanRate(2400, ClockSetup{});
    ASSERT_TRUE(plan.usable);
    BootRate rate;
    rate.rateUnits = plan.units;
    rate.hostRate = plan.hostRate;
    const Written w =
        WriteAndVerify(form, Lines({Record('1', 0, Counting(250)), Record('1', 0x7F0, Counting(16)), Record('9', 0)}),
                       VerifyMode::Read, true, rate);
    EXPECT_EQ(w.outcome.result, WriteResult::Done) << w.outcome.message;
    EXPECT_EQ(w.outcome.verify.bytesCompared, 0x800u);
}

TEST(VerifyOnSim, AWeakCellFailsTheVerifyWithItsAddressAndValues) {
    struct Case {
        const char* name;
        uint32_t address;
        int value;         // -1: the programmed byte with bit 0 changed
        uint8_t expected;  // what the image put there
        uint8_t actual;
    };
    const Case cases[] = {
        {"in a block of 0xFF", 0x100, -1, 0xFF, 0xFE},
        {"first data byte", 0x0000, 0x00, 0xA0, 0x00},
        {"in the data at 0x300", 0x305, -1, 0x15, 0x14},
        {"in the trailer", 0x2028 + 5, 0x00, 'Q', 0x00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (VerifyMode mode : {VerifyMode::Read, VerifyMode::Sum}) {
            TestForm form;
            SimScope sim(form, Board(c.address, c.value));
            const Written w = WriteAndVerify(form, SparseFile(), mode);
            ASSERT_EQ(w.image->Bytes()[c.address], c.expected);
            const VerifyResult& v = w.outcome.verify;
            EXPECT_EQ(w.outcome.result, WriteResult::VerifyFailed);
            EXPECT_EQ(w.outcome.stage, WriteStage::Verify);
            EXPECT_FALSE(v.passed);
            EXPECT_TRUE(v.mismatch);
            EXPECT_EQ(form.LinkBusy, 0);
            if (mode == VerifyMode::Read) {
                EXPECT_EQ(v.address, c.address);
                EXPECT_EQ(v.expectedByte, c.expected);
                EXPECT_EQ(v.actualByte, c.actual);
                EXPECT_EQ(v.bytesCompared, c.address);
                char text[80];
                std::snprintf(text, sizeof text, "verify failed at 0x%08X: expected 0x%02X, read 0x%02X", c.address,
                              c.expected, c.actual);
                EXPECT_EQ(w.outcome.message, text);
                EXPECT_EQ(form.LastStatusText(), text);
            } else {
                EXPECT_EQ(v.actualSum, FlashSum(sim));
                EXPECT_EQ(v.actualSum - v.expectedSum, uint32_t{c.actual} - c.expected);
            }
        }
    }
}

TEST(VerifyOnSim, ARefusedReadBackEndsTheVerify) {
    TestForm form;
    SimOptions o = Board();
    o.errorCommand = proto::kMemoryRead;
    SimScope sim(form, o);
    const Written w = WriteAndVerify(form, SparseFile(), VerifyMode::Read);
    EXPECT_EQ(w.outcome.result, WriteResult::VerifyFailed);
    EXPECT_FALSE(w.outcome.verify.mismatch);
    EXPECT_EQ(w.outcome.message.rfind("verify failed: memory read at 0x00000000: error reply 0xD2 ", 0), 0u)
        << w.outcome.message;
}

TEST(VerifyOnSim, EraseLeavesABlankFlashThatPassesItsBlankCheck) {
    {
        TestForm form;
        SimScope sim(form, Board());
        sim.board.LoadFlash(Counting(3000, 1));
        const WriteOutcome outcome = Button1Click(form, [](FormCore& f) { return CheckErased(f); });
        EXPECT_EQ(outcome.result, WriteResult::Done);
        EXPECT_EQ(outcome.message, "blank check OK, the flash is erased");
        EXPECT_EQ(form.LastStatusText(), "blank check OK, the flash is erased");
        EXPECT_TRUE(sim.board.Inspect().flash == Bytes(kFlashSize, 0xFF));
        EXPECT_EQ(sim.board.Inspect().log.FramesOf(proto::kUserBlankCheck).size(), 1u);
        EXPECT_EQ(sim.board.Inspect().log.FramesOf(proto::kProgram).size(), 0u);
        EXPECT_EQ(form.LinkBusy, 0);
    }
    {
        // A stage before the blank check that fails is the erase's outcome.
        TestForm failing;
        SimOptions o = Board();
        o.errorCommand = 0x40;
        SimScope refusing(failing, o);
        const WriteOutcome refused = Button1Click(failing, [](FormCore& f) { return CheckErased(f); });
        EXPECT_EQ(refused.result, WriteResult::TargetFailed);
        EXPECT_EQ(refused.stage, WriteStage::Erase);
        EXPECT_EQ(refusing.board.Inspect().log.FramesOf(proto::kUserBlankCheck).size(), 0u);
    }
}

// A form whose user asks the write to stop once the verify has begun and
// `reads` of its steps have moved the bar (0: as soon as it shows its start).
struct StopInVerifyForm : TestForm {
    int reads = 0;
    bool verifying = false;
    void ShowStatus(const std::string& text) override {
        TestForm::ShowStatus(text);
        if (text.rfind("verifying", 0) != 0) return;
        verifying = true;
        if (reads == 0) StopRequested = 1;
    }
    void SetProgressPosition(int p) override {
        TestForm::SetProgressPosition(p);
        if (verifying && p > 0 && --reads == 0) StopRequested = 1;
    }
};

// A stop during the verify ends it between two commands: the one in flight
// is answered, no other follows, the target stays in boot mode holding the
// whole image, and the write is Interrupted, never Done nor VerifyFailed.
TEST(VerifyOnSim, AStopDuringTheVerifyLeavesTheProgrammedImageInBootMode) {
    struct Case {
        const char* name;
        VerifyMode mode;
        int reads;
        size_t memoryReads, sums;
    };
    const Case cases[] = {
        {"read, at its start", VerifyMode::Read, 0, 0, 0},
        {"read, after two reads", VerifyMode::Read, 2, 2, 0},
        {"sum, at its start", VerifyMode::Sum, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StopInVerifyForm form;
        form.reads = c.reads;
        SimScope sim(form, Board());
        const Written w = WriteAndVerify(form, SparseFile(), c.mode);

        EXPECT_EQ(w.outcome.result, WriteResult::Interrupted);
        EXPECT_EQ(w.outcome.stage, WriteStage::Verify);
        EXPECT_TRUE(w.outcome.verify.stopped);
        EXPECT_FALSE(w.outcome.verify.passed);
        EXPECT_EQ(w.outcome.programmedTo, w.image->ImageLength);
        EXPECT_EQ(BoardStateAfter(w.outcome), BoardState::BootModeProgrammed);
        EXPECT_EQ(form.LinkBusy, 0);
        const SimInspection board = sim.board.Inspect();
        EXPECT_EQ(board.log.FramesOf(proto::kMemoryRead).size(), c.memoryReads);
        EXPECT_EQ(board.log.FramesOf(proto::kUserSumCheck).size(), c.sums);
        // No status after the stop claims a verify's outcome.
        EXPECT_EQ(form.LastStatusText().rfind("verifying", 0), 0u) << form.LastStatusText();
        // Not restarted into the image: the chip stays in boot mode.
        sim.board.Advance(form.clock.now + 100000);
        EXPECT_NE(sim.board.Inspect().state, SimState::UserProgram);
    }
}

}  // namespace
