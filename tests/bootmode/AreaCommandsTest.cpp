// The read-only commands of the programming/erasing state against the
// recording fake driver, on virtual time: their frames, and how each kind of
// wrong or missing reply is judged.
#include "bootmode/AreaCommands.h"

#include "support/FakeAreaChip.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

struct BusyForm : TestForm {
    BusyForm() { LinkBusy = 1; }  // keeps the monitor's receive pump off the link
};

TEST(AreaCommands, GoodRepliesInPiecesAndTheFramesSent) {
    BusyForm form;
    FakeAreaChip chip(form, 4096);
    for (size_t i = 0; i < chip.flash.size(); ++i) chip.flash[i] = static_cast<uint8_t>(i * 13 + 1);
    chip.pieceSize = 3;  // every reply arrives over several polls

    const AreaReply read = ReadUserArea(form, 0x123, 300);
    ASSERT_TRUE(read.Ok()) << Describe(read);
    EXPECT_EQ(read.data, Bytes(chip.flash.begin() + 0x123, chip.flash.begin() + 0x123 + 300));
    EXPECT_EQ(chip.Commands().back(), (Bytes{0x52, 0x09, 0x01, 0x00, 0x00, 0x01, 0x23, 0x00, 0x00, 0x01, 0x2C, 0x53}));

    std::vector<FlashArea> areas;
    ASSERT_TRUE(InquireUserArea(form, areas).Ok());
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0].first, 0u);
    EXPECT_EQ(areas[0].last, 4095u);
    EXPECT_EQ(chip.Commands().back(), Bytes{0x25});

    uint32_t sum = 0, expected = 0;
    for (uint8_t b : chip.flash) expected += b;
    ASSERT_TRUE(SumUserArea(form, sum).Ok());
    EXPECT_EQ(sum, expected);
    EXPECT_EQ(chip.Commands().back(), Bytes{0x4B});

    EXPECT_EQ(Describe(BlankCheckUserArea(form)), "error reply 0xCD 0x52 (not erased)");
    std::fill(chip.flash.begin(), chip.flash.end(), 0xFF);
    EXPECT_TRUE(BlankCheckUserArea(form).Ok());
    EXPECT_EQ(chip.Commands().back(), Bytes{0x4D});
}

// A read's wait outlasts its reply on the wire at any rate the write may run
// at; faster rates keep the wait of 38400 bit/s.
TEST(AreaCommands, AReadWaitsLongerThanItsReplyTakesOnTheWire) {
    for (uint32_t rate : {1200u, 2400u, 9600u, 38400u}) {
        const double replySeconds = (1024 + 6) * 10.0 / rate;
        EXPECT_GT(MemoryReadTicks(1024, rate) / 10.0, 1.5 * replySeconds) << rate;
    }
    EXPECT_EQ(MemoryReadTicks(1024, 781200), MemoryReadTicks(1024));
    EXPECT_EQ(MemoryReadTicks(1024, 0), MemoryReadTicks(1024));
}

TEST(AreaCommands, ReadsTakeNoMoreThanTheReplyAndStayWithinTheReceiveBuffer) {
    BusyForm form;
    FakeAreaChip chip(form, 4096);
    chip.override = [](const Bytes& c) -> std::optional<Bytes> {
        if (c[0] != proto::kMemoryRead) return std::nullopt;
        Bytes r = FakeAreaChip::Framed(0x52, 4, Bytes(600, 0xAB));
        r.insert(r.end(), {0x11, 0x22});  // bytes behind the reply
        return r;
    };
    const AreaReply read = ReadUserArea(form, 0, 600);
    ASSERT_TRUE(read.Ok()) << Describe(read);
    EXPECT_EQ(chip.device->rx.size(), 2u);
    for (const std::string& call : chip.scope.provider->log.calls) {
        if (call.rfind("ReadBytes ", 0) == 0) {
            EXPECT_LE(std::stoul(call.substr(10)), 256u) << call;
        }
    }
}

TEST(AreaCommands, WrongAndMissingReplies) {
    struct Case {
        const char* name;
        char command;  // 'r' memory read of 64 bytes, 'i' inquiry, 's' sum, 'b' blank check
        Bytes reply;   // empty: the chip stays silent
        const char* text;
    };
    const Bytes good = FakeAreaChip::Framed(0x52, 4, Bytes(64, 0x5A));
    Bytes badSum = good;
    badSum.back() ^= 1;
    Bytes cut(good.begin(), good.begin() + 40);
    Bytes twoAreasOneGiven = FakeAreaChip::Framed(0x35, 1, {2, 0, 0, 0, 0, 0, 0, 0x0F, 0xFF});
    Bytes backwards = FakeAreaChip::Framed(0x35, 1, {1, 0, 0, 0x10, 0, 0, 0, 0, 0});
    const Case cases[] = {
        {"read refused", 'r', {0xD2, 0x2A}, "error reply 0xD2 0x2A (address not in the area)"},
        {"read past the end", 'r', {0xD2, 0x2B}, "error reply 0xD2 0x2B (size past the end of the area)"},
        {"read of another code", 'r', {0xD2, 0x99}, "error reply 0xD2 0x99"},
        {"read silent", 'r', {}, "no reply"},
        {"read cut short", 'r', cut, "reply cut short (40 of 70 bytes)"},
        {"read checksum", 'r', badSum, "checksum error in the reply"},
        {"read of fewer bytes", 'r', FakeAreaChip::Framed(0x52, 4, Bytes(32, 0)),
         "reply of wrong size (size field 32)"},
        {"read of a huge size", 'r', {0x52, 0x7F, 0xFF, 0xFF, 0xFF}, "reply of wrong size (size field 2147483647)"},
        {"read garbled", 'r', {0xFF, 0x52}, "unexpected reply 0xFF"},
        {"sum refused", 's', {0xCB, 0x80}, "error reply 0xCB 0x80 (command not accepted)"},
        {"sum of two bytes", 's', FakeAreaChip::Framed(0x5B, 1, {1, 2}), "reply of wrong size (size field 2)"},
        {"sum silent", 's', {}, "no reply"},
        {"inquiry counts two areas, gives one", 'i', twoAreasOneGiven, "reply of wrong size (size field 9)"},
        {"inquiry area ends before it begins", 'i', backwards, "reply of wrong size (size field 9)"},
        {"inquiry refused", 'i', {0xA5, 0x11}, "error reply 0xA5 0x11 (checksum error)"},
        {"blank check garbled", 'b', {0x86}, "unexpected reply 0x86"},
        {"blank check silent", 'b', {}, "no reply"},
    };
    for (const Case& c : cases) {
        BusyForm form;
        FakeAreaChip chip(form, 4096);
        chip.override = [&c](const Bytes&) -> std::optional<Bytes> { return c.reply; };
        AreaReply reply;
        std::vector<FlashArea> areas;
        uint32_t sum = 0;
        const int64_t start = form.clock.now;
        switch (c.command) {
        case 'r': reply = ReadUserArea(form, 0, 64); break;
        case 'i': reply = InquireUserArea(form, areas); break;
        case 's': reply = SumUserArea(form, sum); break;
        default: reply = BlankCheckUserArea(form); break;
        }
        EXPECT_FALSE(reply.Ok()) << c.name;
        EXPECT_EQ(Describe(reply), c.text) << c.name;
        // A judged reply ends the wait at once; only a missing one waits it out.
        const bool waited = c.reply.empty() || reply.fault == ReplyFault::CutShort;
        EXPECT_EQ(form.clock.now - start > 500000, waited) << c.name;
        EXPECT_LT(form.clock.now - start, 6000000) << c.name;
    }
}

}  // namespace
