// The boot program's read-back commands: memory read, user-area sum and blank
// checks, user-area information; and the weak-cell fault that only they
// reveal.
#include "SimHost.h"
#include "support/SimScope.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

Bytes Be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes ReadCommand(uint32_t start, uint32_t size, uint8_t area = 0x01) {
    return Framed(Cat(Cat({0x52, 0x09, area}, Be32(start)), Be32(size)));
}

Bytes ReadReply(const Bytes& data) { return Framed(Cat(Cat({0x52}, Be32(static_cast<uint32_t>(data.size()))), data)); }

Bytes SumReply(uint32_t total) { return Framed(Cat({0x5B, 0x04}, Be32(total))); }

const Bytes kEnd(proto::kEndCommand, proto::kEndCommand + 6);

TEST(SimReadBack, AnswersInTheProgrammingStateAndAfterTheEnd) {
    TestForm form;
    form.LinkBusy = 1;  // the test talks to the board itself: the monitor's pump stays off the link
    SimOptions options;
    options.flashSize = 4096;
    SimScope sim(form, options);
    ToNewBitRate(form);
    ASSERT_EQ(Exchange(form, {0x40}, 1, 300), Bytes{0x06});
    // Erased, before and after the user-area selection.
    EXPECT_EQ(Exchange(form, {0x4D}), Bytes{0x06});
    EXPECT_EQ(Exchange(form, {0x4B}, 7), SumReply(4096 * 0xFF));
    ASSERT_EQ(Exchange(form, {0x43}), Bytes{0x06});
    EXPECT_EQ(Exchange(form, {0x4D}), Bytes{0x06});
    ASSERT_EQ(Exchange(form, Block(0, 0x3C)), Bytes{0x06});
    ASSERT_EQ(Exchange(form, Block(256, 0x01)), Bytes{0x06});

    const uint32_t total = 128 * 0x3C + 128 * 0x01 + (4096 - 256) * 0xFF;
    struct Case {
        const char* what;
        Bytes command;
        Bytes reply;
    };
    const std::vector<Case> cases = {
        {"read across a block edge", ReadCommand(126, 4), ReadReply({0x3C, 0x3C, 0xFF, 0xFF})},
        {"read of the last byte", ReadCommand(4095, 1), ReadReply({0xFF})},
        {"sum", {0x4B}, SumReply(total)},
        {"blank check of a programmed area", {0x4D}, {0xCD, 0x52}},
        {"user-area information", {0x25}, Framed(Cat(Cat({0x35, 0x09, 0x01}, Be32(0)), Be32(4095)))},
        {"read with a bad checksum",
         [] {
             Bytes f = ReadCommand(0, 4);
             ++f.back();
             return f;
         }(),
         {0xD2, 0x11}},
        {"read of another size", Framed({0x52, 0x01, 0x01}), {0xD2, 0x11}},
        {"read starting past the end", ReadCommand(4096, 1), {0xD2, 0x2A}},
        {"read of the user boot area", ReadCommand(0, 4, 0x00), {0xD2, 0x2A}},
        {"read reaching past the end", ReadCommand(4000, 97), {0xD2, 0x2B}},
        {"read of nothing", ReadCommand(0, 0), {0xD2, 0x2B}},
        {"read of a size that wraps", ReadCommand(16, 0xFFFFFFF8u), {0xD2, 0x2B}},
    };
    auto check = [&](const char* when) {
        for (const Case& c : cases)
            EXPECT_EQ(Exchange(form, c.command, c.reply.size()), c.reply) << when << ": " << c.what;
    };
    check("while programming");
    ASSERT_EQ(Exchange(form, kEnd), Bytes{0x06});
    check("after the end");
    // The whole area in one read, as a verify does it.
    const Bytes all = Exchange(form, ReadCommand(0, 4096), 4096 + 6, 200);
    ASSERT_EQ(all.size(), 4096u + 6);
    EXPECT_TRUE(SumsToZero(all));
    EXPECT_TRUE(std::equal(all.begin() + 5, all.end() - 1, sim.board.Inspect().flash.begin()));
    // Programming goes on after read-backs.
    ASSERT_EQ(Exchange(form, {0x43}), Bytes{0x06});
    EXPECT_EQ(Exchange(form, Block(128, 0x00)), Bytes{0x06});
}

TEST(SimReadBack, RefusedOutsideTheProgrammingState) {
    struct Case {
        const char* what;
        std::function<void(TestForm&)> reach;
    };
    for (const Case& c : std::vector<Case>{
             {"after the adjustment", [](TestForm& form) { Adjust(form); }},
             {"after the new bit rate", [](TestForm& form) { ToNewBitRate(form); }},
         }) {
        TestForm form;
        form.LinkBusy = 1;
        SimOptions options;
        options.flashSize = 4096;
        SimScope sim(form, options);
        c.reach(form);
        EXPECT_EQ(Exchange(form, ReadCommand(0, 4), 2), (Bytes{0xD2, 0x80})) << c.what;
        EXPECT_EQ(Exchange(form, {0x4B}, 2), (Bytes{0xCB, 0x80})) << c.what;
        EXPECT_EQ(Exchange(form, {0x4D}, 2), (Bytes{0xCD, 0x80})) << c.what;
        EXPECT_EQ(Exchange(form, {0x25}, 2), (Bytes{0xA5, 0x80})) << c.what;
        EXPECT_EQ(sim.board.Inspect().log.erases, 0) << c.what;
    }
}

TEST(SimReadBack, AWeakCellIsAcknowledgedButShowsInTheReadAndTheSum) {
    struct Case {
        int64_t address;
        int value;  // -1: the default
        uint8_t fill;
        uint8_t kept;
    };
    for (const Case& c : std::vector<Case>{
             {130, -1, 0x42, 0x43},  // a bit that stayed 1
             {129, -1, 0x43, 0x42},  // already odd: bit 0 flips the other way
             {255, 0x00, 0x42, 0x00},
         }) {
        SCOPED_TRACE(c.address);
        TestForm form;
        form.LinkBusy = 1;
        SimOptions options;
        options.flashSize = 4096;
        options.corruptAddress = c.address;
        options.corruptValue = c.value;
        SimScope sim(form, options);
        ToProgramming(form);
        ASSERT_EQ(Exchange(form, Block(0, c.fill)), Bytes{0x06});
        ASSERT_EQ(Exchange(form, Block(128, c.fill)), Bytes{0x06}) << "the weak cell's block is acknowledged";
        Bytes expect(256, c.fill);
        expect[static_cast<size_t>(c.address)] = c.kept;
        EXPECT_EQ(Exchange(form, ReadCommand(0, 256), 262), ReadReply(expect));
        const uint32_t total = 255u * c.fill + c.kept + (4096 - 256) * 0xFF;
        EXPECT_EQ(Exchange(form, {0x4B}, 7), SumReply(total));
    }
}

}  // namespace

namespace {

TEST(SimReadBack, WithoutModemLinesTheNewProgramStartsOnceTheHostIsQuiet) {
    TestForm form;
    form.LinkBusy = 1;
    SimOptions options;
    options.flashSize = 4096;
    options.noModemLines = true;
    options.bannerDelayMicros = 0;
    SimScope sim(form, options);
    ToProgramming(form);
    ASSERT_EQ(Exchange(form, Block(0, 0x11)), Bytes{0x06});
    ASSERT_EQ(Exchange(form, kEnd, 1, 1), Bytes{0x06});
    EXPECT_EQ(Exchange(form, {0x4B}, 7, 1), SumReply(128 * 0x11 + (4096 - 128) * 0xFF)) << "still in boot mode";
    EXPECT_EQ(Exchange(form, ReadCommand(0, 2), 8, 1), ReadReply({0x11, 0x11}));
    EXPECT_EQ(sim.board.Inspect().state, SimState::ProgramErase);
    const Bytes banner = Collect(form, 10, 20);
    EXPECT_EQ(Text(banner).find("H8SX/1622 user program: 128 bytes"), 0u) << Text(banner);
    EXPECT_EQ(sim.board.Inspect().state, SimState::UserProgram);
    EXPECT_EQ(sim.board.Inspect().log.userRestarts, 1);
}

}  // namespace
