// Whole writes on the simulated board, on virtual time: FWRITE's boot-mode
// sequence, then the transfer of a chosen file.
#include "SRecordText.h"
#include "protocol/Protocol.h"
#include "bootmode/WriteCommand.h"
#include "support/Trailer.h"
#include "support/SimScope.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

namespace {

Bytes Sample(size_t n, uint32_t seed) {
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    return b;
}

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
        const Bytes data = Sample(length, static_cast<uint32_t>(length));
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
    const Bytes data = Sample(300, 5);
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
    struct Case { const char* what; SimOptions options; const char* status; size_t frames; };
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
        TempFile file(SrecOf(Sample(4 * 128, 9)));
        form.fileChoice = file.Path();
        const int descriptors = OpenDescriptors();
        Button1Click(form);
        EXPECT_EQ(form.LastStatusText(), c.status);
        EXPECT_EQ(sim.board.Inspect().log.FramesOf(proto::kProgram).size(), c.frames);
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(form.LinkBusy, 0);
    }
}

}  // namespace
