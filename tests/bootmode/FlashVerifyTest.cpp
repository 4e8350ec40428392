// The verify after a write and the blank check, against the recording fake
// driver on virtual time. The fake chip's flash is programmed by the real
// block programming first, so what the verify expects is checked against what
// a write actually leaves behind.
#include "bootmode/FlashVerify.h"

#include "image/ProgramImage.h"
#include "support/FakeAreaChip.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

struct BusyForm : TestForm {
    BusyForm() { LinkBusy = 1; }
    std::vector<int> positions;
    void SetProgressPosition(int p) override {
        TestForm::SetProgressPosition(p);
        positions.push_back(progressPos);
    }
};

// A sparse image: 16 bytes at 0, 16 bytes at 0x300 (the blocks between are
// 0xFF), the trailer behind 0x310 in the last block.
std::unique_ptr<FlashImage> SparseImage() {
    auto image = std::make_unique<FlashImage>();
    std::fill(image->Bytes(), image->Bytes() + 0x310, 0xFF);
    for (int i = 0; i < 16; ++i) {
        image->Bytes()[i] = static_cast<uint8_t>(0xA0 + i);
        image->Bytes()[0x300 + i] = static_cast<uint8_t>(0x10 + i);
    }
    image->ImageLength = 0x310;
    image->StoreTrailer();
    return image;
}

std::unique_ptr<FlashImage> PatternImage(uint32_t length) {
    auto image = std::make_unique<FlashImage>();
    for (uint32_t i = 0; i < length; ++i) image->Bytes()[i] = static_cast<uint8_t>(i * 7 + i / 256);
    image->ImageLength = length;
    image->StoreTrailer();
    return image;
}

// What the flash holds at `address` after a write of `image`.
uint8_t Expected(const FlashImage& image, uint32_t address) {
    return address < image.ProgrammedEnd() ? image.Bytes()[address] : 0xFF;
}

// The memory reads the host sent: (address, size) pairs.
std::vector<std::pair<uint32_t, uint32_t>> Reads(const FakeAreaChip& chip) {
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    for (const Bytes& c : chip.Commands()) {
        if (c[0] != proto::kMemoryRead) continue;
        reads.emplace_back(FakeAreaChip::Get32(c, 3), FakeAreaChip::Get32(c, 7));
    }
    return reads;
}

TEST(FlashVerify, WhatAWriteLeavesIsWhatTheVerifyExpects) {
    BusyForm form;
    FakeAreaChip chip(form, 8192);
    auto image = SparseImage();
    ProgramImage(form, *image);
    ASSERT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");

    EXPECT_EQ(image->ProgrammedEnd(), 0x380u);
    for (uint32_t a = 0; a < chip.flash.size(); ++a) ASSERT_EQ(Expected(*image, a), chip.flash[a]) << a;
    EXPECT_EQ(chip.flash[0x310 + 5], 'Q');  // the trailer's marker, in the last block

    const VerifyResult read = VerifyFlash(form, image->Bytes(), image->ProgrammedEnd(), VerifyMode::Read);
    EXPECT_TRUE(read.passed);
    EXPECT_EQ(read.bytesCompared, 0x380u);
    EXPECT_EQ(read.message, "verify OK, 896 bytes compared");
    EXPECT_EQ(form.statuses.end()[-2], "verifying by read-back");
    EXPECT_EQ(form.LastStatusText(), read.message);
    EXPECT_EQ(Reads(chip), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0x380}}));
    EXPECT_EQ(form.progressPos, form.progressMax);

    uint32_t sum = 0;
    for (uint8_t b : chip.flash) sum += b;
    const VerifyResult bySum = VerifyFlash(form, image->Bytes(), image->ProgrammedEnd(), VerifyMode::Sum);
    EXPECT_TRUE(bySum.passed) << bySum.message;
    EXPECT_EQ(bySum.expectedSum, sum);
    EXPECT_EQ(bySum.actualSum, sum);
    EXPECT_EQ(bySum.bytesCompared, 8192u);
    char text[64];
    std::snprintf(text, sizeof text, "verify OK, sum 0x%08X over 8192 bytes", sum);
    EXPECT_EQ(bySum.message, text);
    EXPECT_EQ(form.statuses.end()[-2], "verifying by sum check");
}

TEST(FlashVerify, ReadBackInChunksWithTheBarFollowing) {
    BusyForm form;
    FakeAreaChip chip(form, 8192);
    auto image = PatternImage(2500);
    ProgramImage(form, *image);
    form.positions.clear();

    const VerifyResult read = VerifyByReading(form, image->Bytes(), image->ProgrammedEnd());
    EXPECT_TRUE(read.passed) << read.message;
    EXPECT_EQ(read.bytesCompared, 2560u);
    EXPECT_EQ(Reads(chip), (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1024}, {1024, 1024}, {2048, 512}}));
    EXPECT_EQ(form.progressMax, 2560);
    EXPECT_EQ(form.positions, (std::vector<int>{0, 1024, 2048, 2560, 2560}));
}

TEST(FlashVerify, DifferencesAreNamed) {
    struct Case {
        const char* name;
        uint32_t address;  // the flash byte spoilt after the write
        uint8_t value;
        const char* readText;  // "" : the read-back passes
        bool sumFails;
    };
    const Case cases[] = {
        {"image byte", 0x305, 0x00, "verify failed at 0x00000305: expected 0x15, read 0x00", true},
        {"unsent block inside the range", 0x100, 0x7E, "verify failed at 0x00000100: expected 0xFF, read 0x7E", true},
        {"trailer byte", 0x310 + 5, 'X', "verify failed at 0x00000315: expected 0x51, read 0x58", true},
        // Beyond the programmed range only the sum looks.
        {"erased byte past the image", 0x1000, 0x00, "", true},
    };
    for (const Case& c : cases) {
        BusyForm form;
        FakeAreaChip chip(form, 8192);
        auto image = SparseImage();
        ProgramImage(form, *image);
        chip.flash[c.address] = c.value;

        const VerifyResult read = VerifyByReading(form, image->Bytes(), image->ProgrammedEnd());
        if (*c.readText == '\0') {
            EXPECT_TRUE(read.passed) << c.name;
        } else {
            EXPECT_FALSE(read.passed) << c.name;
            EXPECT_TRUE(read.mismatch) << c.name;
            EXPECT_EQ(read.address, c.address) << c.name;
            EXPECT_EQ(read.actualByte, c.value) << c.name;
            EXPECT_EQ(read.bytesCompared, c.address) << c.name;
            EXPECT_EQ(read.message, c.readText) << c.name;
            EXPECT_EQ(form.LastStatusText(), c.readText) << c.name;
        }

        const VerifyResult bySum = VerifyBySum(form, image->Bytes(), image->ProgrammedEnd());
        EXPECT_EQ(bySum.passed, !c.sumFails) << c.name;
        EXPECT_TRUE(bySum.mismatch) << c.name;
        EXPECT_EQ(bySum.actualSum - bySum.expectedSum, uint32_t{c.value} - Expected(*image, c.address)) << c.name;
        char text[80];
        std::snprintf(text, sizeof text, "verify failed: user area sum 0x%08X, expected 0x%08X", bySum.actualSum,
                      bySum.expectedSum);
        EXPECT_EQ(bySum.message, text) << c.name;
    }
}

TEST(FlashVerify, AFailedExchangeEndsTheVerifyWithItsOwnMessage) {
    struct Case {
        const char* name;
        VerifyMode mode;
        uint8_t command;  // the command whose reply is replaced
        Bytes reply;      // empty: silence
        const char* text;
    };
    const Case cases[] = {
        {"read refused",
         VerifyMode::Read,
         0x52,
         {0xD2, 0x2A},
         "verify failed: memory read at 0x00000400: error reply 0xD2 0x2A (address not in the area)"},
        {"read silent", VerifyMode::Read, 0x52, {}, "verify failed: memory read at 0x00000400: no reply"},
        {"inquiry silent", VerifyMode::Sum, 0x25, {}, "verify failed: user area inquiry: no reply"},
        {"sum refused",
         VerifyMode::Sum,
         0x4B,
         {0xCB, 0x11},
         "verify failed: user area sum: error reply 0xCB 0x11 (checksum error)"},
    };
    for (const Case& c : cases) {
        BusyForm form;
        FakeAreaChip chip(form, 8192);
        auto image = PatternImage(2500);
        ProgramImage(form, *image);
        int reads = 0;
        chip.override = [&](const Bytes& command) -> std::optional<Bytes> {
            // Reads fail from the second one on, the other commands at once.
            if (command[0] != c.command || (c.command == 0x52 && ++reads < 2)) return std::nullopt;
            return c.reply;
        };
        const VerifyResult result = VerifyFlash(form, image->Bytes(), image->ProgrammedEnd(), c.mode);
        EXPECT_FALSE(result.passed) << c.name;
        EXPECT_FALSE(result.mismatch) << c.name;
        EXPECT_EQ(result.message, c.text) << c.name;
        EXPECT_EQ(form.LastStatusText(), c.text) << c.name;
        if (c.mode == VerifyMode::Read) {
            EXPECT_EQ(Reads(chip).size(), 2u) << c.name;
        }
    }
}

TEST(FlashVerify, SumNeedsTheImageInsideTheUserArea) {
    BusyForm form;
    FakeAreaChip chip(form, 4096);
    auto image = PatternImage(2500);
    ProgramImage(form, *image);
    chip.areaFirst = 1024;  // the area the chip reports leaves out the first KiB
    const VerifyResult result = VerifyBySum(form, image->Bytes(), image->ProgrammedEnd());
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.message, "verify failed: the image reaches past the user area (0x00000A00 bytes)");
}

TEST(FlashVerify, BlankCheck) {
    struct Case {
        const char* name;
        bool spoil;
        std::optional<Bytes> reply;
        bool passed;
        const char* text;
    };
    const Case cases[] = {
        {"erased", false, std::nullopt, true, "blank check OK, the flash is erased"},
        {"one byte left", true, std::nullopt, false, "blank check failed: the flash is not erased"},
        {"silent", false, Bytes{}, false, "blank check failed: no reply"},
        {"refused", false, Bytes{0xCD, 0x80}, false,
         "blank check failed: error reply 0xCD 0x80 (command not accepted)"},
    };
    for (const Case& c : cases) {
        BusyForm form;
        FakeAreaChip chip(form, 4096);
        if (c.spoil) chip.flash[4095] = 0xFE;
        if (c.reply) chip.override = [&c](const Bytes&) { return c.reply; };
        const WriteOutcome outcome = CheckErased(form);
        EXPECT_EQ(outcome.result, c.passed ? WriteResult::Done : WriteResult::TargetFailed) << c.name;
        EXPECT_EQ(outcome.stage, c.passed ? WriteStage::None : WriteStage::BlankCheck) << c.name;
        EXPECT_EQ(outcome.message, c.text) << c.name;
        EXPECT_EQ(form.LastStatusText(), c.text) << c.name;
    }
}

// The verify decides a programmed write's outcome, and runs only after one.
TEST(FlashVerify, DecidesTheOutcomeOfAWriteThatWasProgrammed) {
    BusyForm form;
    FakeAreaChip chip(form, 4096);
    auto image = PatternImage(300);
    const WriteOutcome written = ProgramImage(form, *image);
    ASSERT_TRUE(written.Done());
    const uint32_t end = image->ProgrammedEnd();

    const WriteOutcome passed = VerifyAfterWrite(form, written, image->Bytes(), end, VerifyMode::Read);
    EXPECT_EQ(passed.result, WriteResult::Done);
    EXPECT_EQ(passed.verify.mode, VerifyMode::Read);
    EXPECT_TRUE(passed.verify.passed);
    EXPECT_EQ(passed.verify.bytesCompared, 384u);

    chip.flash[0x101] ^= 0x40;
    const WriteOutcome failed = VerifyAfterWrite(form, written, image->Bytes(), end, VerifyMode::Read);
    EXPECT_EQ(failed.result, WriteResult::VerifyFailed);
    EXPECT_EQ(failed.stage, WriteStage::Verify);
    EXPECT_EQ(failed.message, failed.verify.message);
    EXPECT_EQ(failed.verify.address, 0x101u);
    EXPECT_EQ(failed.verify.actualByte, image->Bytes()[0x101] ^ 0x40);
    const WriteOutcome bySum = VerifyAfterWrite(form, written, image->Bytes(), end, VerifyMode::Sum);
    EXPECT_EQ(bySum.result, WriteResult::VerifyFailed);
    EXPECT_EQ(bySum.verify.mode, VerifyMode::Sum);
    EXPECT_TRUE(bySum.verify.mismatch);

    // No verify asked for, or a write that did not end well: nothing is sent
    // and the outcome stays the write's.
    const size_t commands = chip.Commands().size();
    const WriteOutcome plain = VerifyAfterWrite(form, written, image->Bytes(), end, VerifyMode::None);
    EXPECT_EQ(plain.result, WriteResult::Done);
    EXPECT_EQ(plain.verify.mode, VerifyMode::None);
    const WriteOutcome timedOut = WriteOutcome::TargetFailed(WriteStage::EndProgramming, "time out err1");
    const WriteOutcome kept = VerifyAfterWrite(form, timedOut, image->Bytes(), end, VerifyMode::Read);
    EXPECT_EQ(kept.result, WriteResult::TargetFailed);
    EXPECT_EQ(kept.message, "time out err1");
    EXPECT_EQ(chip.Commands().size(), commands);
}

}  // namespace
