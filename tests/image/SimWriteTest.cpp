// Whole writes on the simulated board, on virtual time: FWRITE's boot-mode
// sequence, then the transfer of a chosen file.
#include "SRecordText.h"
#include "bootmode/WriteCommand.h"
#include "core/BoardState.h"
#include "protocol/Protocol.h"
#include "session/Session.h"
#include "support/SimScope.h"
#include "support/TestForm.h"
#include "support/Trailer.h"

#include <gtest/gtest.h>

namespace {

// An S-record text of `data` at address `at`, in S2 records of 32 bytes, as
// srec_cat writes it (no end record).
std::string SrecOf(const Bytes& data, uint32_t at = 0) {
    std::vector<std::string> lines = {Record('0', 0, {'s', 'i', 'm'})};
    for (size_t i = 0; i < data.size(); i += 32)
        lines.push_back(Record('2', static_cast<uint32_t>(at + i),
                               Bytes(data.begin() + i, data.begin() + std::min(i + 32, data.size()))));
    lines.push_back(Record('5', static_cast<uint32_t>(lines.size() - 1)));
    return Lines(lines);
}

// What the flash holds after `data` from address 0 was written: the data,
// the trailer up to the end of the last block, erased bytes behind.
Bytes FlashAfter(const Bytes& data, size_t flashSize) {
    Bytes flash(flashSize, 0xFF);
    std::copy(data.begin(), data.end(), flash.begin());
    const size_t end = (data.size() + 127) / 128 * 128;
    const Bytes trailer = ExpectedTrailer();
    for (size_t i = data.size(), t = 0; i < end; ++i, ++t) flash[i] = trailer[t];
    return flash;
}

TEST(SimWrite, WritesTheFileAndRestartsIntoTheNewProgram) {
    for (size_t length : {size_t{200}, size_t{256}, size_t{20000}}) {
        SCOPED_TRACE(length);
        TestForm form;
        SimScope sim(form);
        const Bytes data = PseudoRandom(length, static_cast<uint32_t>(length));
        TempFile file(SrecOf(data));
        form.fileChoice = file.Path();
        const int descriptors = OpenDescriptors();

        Button1Click(form);

        EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
        EXPECT_TRUE(sim.board.Inspect().flash == FlashAfter(data, sim.board.Inspect().flash.size()));
        const auto frames = sim.board.Inspect().log.FramesOf(proto::kProgram);
        const size_t blocks = (length + 127) / 128;
        ASSERT_EQ(frames.size(), blocks + 1);
        for (size_t k = 0; k < blocks; ++k) {
            const uint32_t at = uint32_t(frames[k][1]) << 24 | frames[k][2] << 16 | frames[k][3] << 8 | frames[k][4];
            EXPECT_EQ(at, k * 128);
        }
        EXPECT_TRUE(frames.back() == Bytes(std::begin(proto::kEndCommand), std::end(proto::kEndCommand)));
        sim.board.Advance(form.clock.now + 100000);  // past the restart's start-up time
        EXPECT_EQ(sim.board.Inspect().state, SimState::UserProgram);
        EXPECT_EQ(form.progressPos, form.progressMax);
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(form.LinkBusy, 0);
    }
}

TEST(SimWrite, ChecksumsOfBlankAndZeroBlocksAreAccepted) {
    for (uint8_t fill : {uint8_t{0xFF}, uint8_t{0x00}}) {
        TestForm form;
        SimScope sim(form);
        TempFile file(SrecOf(Bytes(128, fill)));
        form.fileChoice = file.Path();
        Button1Click(form);
        EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
        const auto frames = sim.board.Inspect().log.FramesOf(proto::kProgram);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0][133], fill == 0xFF ? 0x30 : 0xB0);
    }
}

TEST(SimWrite, RefusedFileProgramsNothing) {
    TestForm form;
    SimScope sim(form);
    const Bytes data = PseudoRandom(300, 5);
    std::string text = SrecOf(data);
    text[text.rfind("S2") + 12] ^= 1;  // one digit of the last data record
    TempFile file(text);
    form.fileChoice = file.Path();
    const int descriptors = OpenDescriptors();
    Button1Click(form);
    EXPECT_EQ(form.LastStatusText(), "file checksum err line 11");
    EXPECT_TRUE(sim.board.Inspect().log.FramesOf(proto::kProgram).empty()) << "no block and no end command";
    sim.board.Advance(form.clock.now + 100000);
    EXPECT_EQ(sim.board.Inspect().state, SimState::UserBlank) << "restarted as after any failed transfer";
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(SimWrite, BoardFaultsDuringProgramming) {
    struct Case {
        const char* what;
        SimOptions options;
        const char* status;
        size_t frames;
    };
    SimOptions noReply;
    noReply.noReplyBlock = 3;
    SimOptions blockError;
    blockError.errorCommand = proto::kProgram;
    SimOptions endError;
    endError.errorCommand = kSimEndCommand;
    const Case cases[] = {
        {"third block unanswered", noReply, "time out err1", 3},
        {"block refused", blockError, "response err", 1},
        {"end command refused", endError, "write err", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestForm form;
        SimScope sim(form, c.options);
        TempFile file(SrecOf(PseudoRandom(4 * 128, 9)));
        form.fileChoice = file.Path();
        const int descriptors = OpenDescriptors();
        Button1Click(form);
        EXPECT_EQ(form.LastStatusText(), c.status);
        EXPECT_EQ(sim.board.Inspect().log.FramesOf(proto::kProgram).size(), c.frames);
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(form.LinkBusy, 0);
    }
}

// A form whose user asks the write to stop when a status text shows for the
// nth time (0: before the write begins).
class StoppingForm : public TestForm {
public:
    std::string stopAt;
    int nth = 0;

    void ShowStatus(const std::string& text) override {
        TestForm::ShowStatus(text);
        if (text == stopAt && --nth == 0) StopRequested = 1;
    }
};

TEST(SimWrite, AStopEndsTheWriteAtItsNextSafePointWithTheBoardInBootMode) {
    struct Case {
        const char* name;
        std::string stopAt;
        int nth;
        WriteStage stage;
        uint32_t programmedTo;
        BoardState board;
    };
    const std::string odd = "rssponse OK", even(11, ' ');
    const Case cases[] = {
        {"before the write", "", 0, WriteStage::None, 0, BoardState::Untouched},
        {"in the bit-rate adjustment", "bit rate adjust", 1, WriteStage::BitRateSync, 0, BoardState::BootModeKept},
        {"during a 20 s erase", "FLASH ROM Ereasing,,,", 1, WriteStage::Erase, 0, BoardState::BootModeErasing},
        {"with the chip ready", "boot mat select done 12", 1, WriteStage::Programming, 0, BoardState::BootModeErased},
        {"after the second block", even, 1, WriteStage::Programming, 256, BoardState::BootModePartial},
        {"after the last block", even, 3, WriteStage::EndProgramming, 700, BoardState::BootModePartial},
    };
    const Bytes data = PseudoRandom(700, 5);  // six blocks
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StoppingForm form;
        form.stopAt = c.stopAt;
        form.nth = c.nth;
        if (c.nth == 0) form.StopRequested = 1;
        SimOptions options;
        options.eraseMicros = 20000000;
        SimScope sim(form, options);
        TempFile file(SrecOf(data));
        form.fileChoice = file.Path();

        const WriteOutcome outcome = Button1Click(form);

        EXPECT_EQ(outcome.result, WriteResult::Interrupted);
        EXPECT_EQ(outcome.stage, c.stage);
        if (c.stage >= WriteStage::Programming) {
            EXPECT_EQ(outcome.programmedTo, c.programmedTo);
        }
        EXPECT_EQ(BoardStateAfter(outcome), c.board);
        EXPECT_EQ(form.LinkBusy, 0);
        // Nothing was sent after the stop: the blocks before it and no end
        // command; a stopped erase wait sends no user-MAT selection.
        const size_t blocks = c.programmedTo == 700 ? 6 : c.programmedTo / 128;
        const SimInspection board = sim.board.Inspect();
        EXPECT_EQ(board.log.FramesOf(proto::kProgram).size(), blocks);
        if (c.stage <= WriteStage::Erase) {
            EXPECT_TRUE(board.log.FramesOf(proto::kUserMatSelect).empty());
        }
        if (c.stage > WriteStage::Erase) {
            const size_t size = board.flash.size();
            Bytes expected = blocks == 6 ? FlashAfter(data, size) : Bytes(size, 0xFF);
            if (blocks < 6) std::copy(data.begin(), data.begin() + blocks * 128, expected.begin());
            EXPECT_TRUE(board.flash == expected);
        }
        if (c.nth == 0) {
            EXPECT_TRUE(board.log.frames.empty());
            EXPECT_EQ(board.log.Restarts(), 0);
            continue;
        }
        // No restart into what was written: the chip stays in boot mode.
        EXPECT_EQ(board.log.bootRestarts, 1);
        EXPECT_TRUE(board.dtr);
        EXPECT_FALSE(board.rts);
        form.RunFor(3 * TestForm::kTick);
        EXPECT_NE(sim.board.Inspect().state, SimState::UserProgram);
        EXPECT_TRUE(form.monitorLines.empty());
        // The 20 s erase was not waited out.
        if (c.stage == WriteStage::Erase) {
            EXPECT_LT(form.clock.now, 5000000);
        }
    }
}

}  // namespace
