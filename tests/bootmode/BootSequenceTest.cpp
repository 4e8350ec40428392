#include "Bench.h"

#include "bootmode/BootSequence.h"
#include "support/StageMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Padded(std::vector<uint8_t> head, size_t n, uint8_t fill = 0x00) {
    head.resize(std::max(n, head.size()), fill);
    return head;
}

std::vector<uint8_t> Then(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A bench whose chip has just confirmed the bit-rate adjustment.
struct SequenceBench : Bench {
    int64_t lastWrite = 0;
    SequenceBench() {
        dev->rate = proto::kAdjustBitRate;
        form.LinkBusy = 1;
        dev->onWrite = [this](const std::vector<uint8_t>& bytes) {
            lastWrite = form.clock.now;
            chip.OnWrite(*dev, form, bytes);
        };
    }
};

const std::vector<std::string>& kPassed = kBootStageMessages;

TEST(DeviceCheck, WeighsOnesSixesAndTwos) {
    struct Case {
        std::string bytes;
        bool accepted;
    };
    const Case cases[] = {
        {"1622", true},     // 1 + 1 + 2 + 2
        {"162", false},     // 4 is not enough
        {"3u01162", true},  // 5, reached on the final '2'
        {"222", true},
        {"22", false},
        {"11111", true},
        {"1111", false},
        {"66166", true},
        {"H8SX", false},
        {"", false},
        {std::string(17, '\0'), false},
        {std::string(30, '0') + "1622", true},  // the check itself weighs everything it is given
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = Bytes(c.bytes);
        EXPECT_EQ(DeviceCheck(b.data(), b.size()), c.accepted) << '"' << c.bytes << '"';
    }
}

TEST(BootSequence, GoodChipPassesEveryStage) {
    SequenceBench b;
    EXPECT_EQ(RunBootSequence(b.form).result, WriteResult::Done);
    EXPECT_EQ(b.form.statuses, kPassed);
    EXPECT_EQ(b.form.beeps, 0);
    EXPECT_EQ(b.dev->rate, proto::kWriteBitRate);
    const std::vector<std::vector<uint8_t>> frames = {
        {0x20},
        {0x10, 0x04, 0x33, 0x75, 0x30, 0x31, 0xE3},
        {0x21},
        {0x11, 0x01, 0x00, 0xEE},
        {0x22},
        {0x23},
        {0x3F, 0x07, 0x01, 0x80, 0x04, 0xE2, 0x02, 0x04, 0x02, 0x4B},
        {0x06},
        {0x40},
        {0x43},
    };
    EXPECT_EQ(b.dev->writes, frames);
    for (const auto& f : b.dev->writes)
        if (f.size() > 1) {
            EXPECT_EQ(std::accumulate(f.begin(), f.end(), 0) % 256, 0);
        }
    // Every stage purges first; the rate changes right after stage 9's reply.
    const std::vector<std::string> around = {"WriteBytes 3F 07 01 80 04 E2 02 04 02 4B", "ReadBytes 1",
                                             "SetBaudRate 38400", "PurgeBuffers 3", "WriteBytes 06"};
    std::vector<std::string> calls = b.Calls();
    auto at = std::search(calls.begin(), calls.end(), around.begin(), around.end());
    EXPECT_NE(at, calls.end());
    EXPECT_EQ(b.Count("PurgeBuffers 3"), 10);
}

TEST(BootSequence, EachStageFailsWithItsMessage) {
    struct Case {
        uint8_t command;
        std::vector<uint8_t> reply;  // replaces the good reply; empty: silence
        size_t passedBefore;         // leading messages of kPassed shown first
        const char* message;
        bool beep;
        int ticks;  // length of the failing wait
        uint32_t rateAfter;
        bool shortReply = false;  // too short to reach the stage's threshold
    };
    const uint32_t slow = proto::kAdjustBitRate, fast = proto::kWriteBitRate;
    const Case cases[] = {
        {0x20, {}, 0, "cpu not answer 3", true, 10, slow},
        {0x20, std::vector<uint8_t>(17, 0x00), 0, "not H8SX1622", false, 0, slow},
        {0x10, {0x90, 0x21}, 1, "cpu not answer 4", true, 10, slow},  // error reply, consumed
        {0x21, {0x31, 0x01}, 2, "cpu not answer 5", true, 10, slow, true},
        {0x11, {0x91, 0x22}, 3, "clock mode err 6", true, 10, slow},
        {0x22, {}, 4, "teibai err 7", true, 10, slow},
        {0x23, std::vector<uint8_t>(11, 0x33), 5, "cpu not answer 8", true, 10, slow, true},
        {0x3F, {0xBF, 0x24}, 6, "new bps rate err 9", true, 10, slow},
        {0x06, {}, 7, "new bps rate err 10", true, 10, fast},
        {0x40, {0xC0, 0x51}, 9, "Erase err 11", true, 300, fast},
        {0x43, {}, 10, "boot mat select false 12", true, 10, fast},
    };
    for (const Case& c : cases) {
        SequenceBench b;
        if (c.reply.empty())
            b.chip.replies.erase(c.command);
        else
            b.chip.replies[c.command].bytes = c.reply;
        b.chip.replies[c.command].delay = 0;
        EXPECT_EQ(RunBootSequence(b.form).result, WriteResult::TargetFailed) << c.message;
        std::vector<std::string> expected(kPassed.begin(), kPassed.begin() + c.passedBefore);
        expected.push_back(c.message);
        EXPECT_EQ(b.form.statuses, expected) << c.message;
        EXPECT_EQ(b.form.beeps, c.beep ? 1 : 0) << c.message;
        EXPECT_EQ(b.form.clock.now - b.lastWrite, c.ticks * TestForm::kTick) << c.message;
        EXPECT_EQ(b.dev->writes.back()[0], c.command) << c.message;
        EXPECT_EQ(b.dev->rate, c.rateAfter) << c.message;
        // Replies that reach the threshold are consumed; shorter ones stay.
        EXPECT_EQ(b.dev->rx.size(), c.shortReply ? c.reply.size() : 0) << c.message;
    }
}

TEST(BootSequence, DeviceInquiryReplies) {
    struct Case {
        const char* name;
        std::vector<uint8_t> reply;
        const char* message;
        bool beep;
    };
    const Case cases[] = {
        {"16 bytes holding 1622 are never read", Padded(Bytes("1622"), 16), "cpu not answer 3", true},
        {"17 bytes holding 1622", Padded(Bytes("1622"), 17), "get ack 3", false},
        {"the board's device list", DeviceList(), "get ack 3", false},
        {"17 zero bytes", std::vector<uint8_t>(17, 0x00), "not H8SX1622", false},
        {"162 alone weighs 4", Padded(Bytes("162"), 20), "not H8SX1622", false},
        {"3u01 then 162 weighs 5", Padded(Bytes("3u01162"), 20), "get ack 3", false},
        {"1622 ending on the 30th byte", Then(std::vector<uint8_t>(26, 0x00), Bytes("1622")), "get ack 3", false},
        {"1622 from the 31st byte", Then(std::vector<uint8_t>(30, 0x00), Bytes("1622")), "not H8SX1622", false},
    };
    for (const Case& c : cases) {
        SequenceBench b;
        b.chip.replies = {{0x20, {c.reply}}};
        EXPECT_EQ(RunBootSequence(b.form).result, WriteResult::TargetFailed) << c.name;
        ASSERT_FALSE(b.form.statuses.empty()) << c.name;
        EXPECT_EQ(b.form.statuses[0], c.message) << c.name;
        // With only the inquiry answered, an accepted chip fails at stage 4.
        EXPECT_EQ(b.form.beeps, c.beep || std::string(c.message) == "get ack 3" ? 1 : 0) << c.name;
    }
}

TEST(BootSequence, FirstSuccessfulDeviceReadDecides) {
    // A failed read is no verdict: the next successful one decides, and the
    // stage passes on it before its wait runs out.
    SequenceBench b;
    FakeDevice* d = b.dev;
    d->failReads = LINK_IO_ERROR;
    b.form.At(300000, [d] { d->failReads = LINK_OK; });
    b.chip.replies.erase(0x10);
    RunBootSequence(b.form);
    ASSERT_FALSE(b.form.statuses.empty());
    EXPECT_EQ(b.form.statuses[0], "get ack 3");
    EXPECT_GE(b.Count("ReadBytes 17"), 2);
}

TEST(BootSequence, EraseAcknowledgedWithinThirtySeconds) {
    struct Case {
        int64_t erase;
        bool passes;
    };
    for (Case c : {Case{25000000, true}, Case{29800000, true}, Case{31000000, false}}) {
        SequenceBench b;
        b.chip.replies[0x40].delay = c.erase;
        EXPECT_EQ(RunBootSequence(b.form).result, c.passes ? WriteResult::Done : WriteResult::TargetFailed) << c.erase;
        EXPECT_EQ(b.form.LastStatusText(), c.passes ? "boot mat select done 12" : "Erase err 11") << c.erase;
    }
}

}  // namespace
