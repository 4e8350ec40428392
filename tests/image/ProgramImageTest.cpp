// Block programming against the recording fake driver, on virtual time.
#include "image/ProgramImage.h"

#include "SRecordText.h"
#include "protocol/Protocol.h"
#include "support/FakeLink.h"
#include "support/TestForm.h"
#include "support/Trailer.h"

#include <gtest/gtest.h>

namespace {

// A form in the middle of a write (LinkBusy keeps the monitor's receive pump
// off the link) that also keeps every position the bar showed.
struct RecordingForm : TestForm {
    RecordingForm() { LinkBusy = 1; }
    std::vector<int> positions;
    void SetProgressPosition(int p) override {
        TestForm::SetProgressPosition(p);
        positions.push_back(progressPos);
    }
};

// The fake converter, opened, answering each command with `reply`.
struct FakeTarget {
    FakeLinkScope scope;
    FakeDevice* device = nullptr;
    // The reply to the n-th command written (counting from 0); default 0x06.
    std::function<Bytes(size_t)> reply = [](size_t) { return Bytes{proto::kAck}; };

    FakeTarget() {
        scope.provider->entries = {{"FAKE0001", "fake"}};
        EXPECT_EQ(OpenBySerialNumber("FAKE0001", OPEN_BY_SERIAL_NUMBER, &DeviceHandle), 0u);
        device = scope.provider->Device();
        scope.provider->log.calls.clear();
        device->onWrite = [this](const std::vector<uint8_t>&) {
            Bytes r = reply(device->writes.size() - 1);
            device->rx.insert(device->rx.end(), r.begin(), r.end());
        };
    }
    const std::vector<std::vector<uint8_t>>& Writes() const { return device->writes; }
};

std::unique_ptr<FlashImage> ImageOf(const Bytes& data) {
    auto image = std::make_unique<FlashImage>();
    std::copy(data.begin(), data.end(), image->Bytes());
    image->ImageLength = static_cast<uint32_t>(data.size());
    image->StoreTrailer();
    return image;
}

const Bytes kEnd(std::begin(proto::kEndCommand), std::end(proto::kEndCommand));

Bytes BlockCommand(uint32_t address, const Bytes& data128) {
    Bytes c = {proto::kProgram, uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8),
               uint8_t(address)};
    c.insert(c.end(), data128.begin(), data128.end());
    c.push_back(proto::FrameChecksum(c.data(), c.size()));
    return c;
}

TEST(ProgramImage, ExactTrafficAndStatusesForTwoBlocks) {
    FakeTarget target;
    RecordingForm form;
    const Bytes data = Counting(129, 1);
    ProgramImage(form, *ImageOf(data));

    Bytes first(data.begin(), data.begin() + 128);
    Bytes second = {data[128]};
    const Bytes trailer = ExpectedTrailer();
    second.insert(second.end(), trailer.begin(), trailer.begin() + 127);
    const std::vector<std::string> expected = {
        "PurgeBuffers 3",
        "WriteBytes " + FakeDevice::Hex(BlockCommand(0, first).data(), 134),
        "ReadBytes 1",
        "PurgeBuffers 3",
        "WriteBytes " + FakeDevice::Hex(BlockCommand(128, second).data(), 134),
        "ReadBytes 1",
        "PurgeBuffers 3",
        "WriteBytes 50 FF FF FF FF B4",
        "ReadBytes 1",
    };
    EXPECT_EQ(target.scope.provider->log.calls, expected);
    EXPECT_EQ(form.statuses, (std::vector<std::string>{"File -> cpu board", "rssponse OK", "           ",
                                                       "FLASH ROM write correct done!"}));
    EXPECT_EQ(form.beeps, 1);
    EXPECT_EQ(form.clock.now, 0) << "no wait when every reply is there at once";
}

TEST(ProgramImage, BlocksAndTrailerBytesSent) {
    struct Case {
        uint32_t length;
        size_t blocks;
        Bytes lastBlockTail;
    };
    const Bytes marker = {'Q', 'X', 'A', '0', '6', '0', '2', '2', '0'};
    Bytes tail200(5, 0xFF);  // 56 trailer bytes behind 72 image bytes
    tail200.insert(tail200.end(), marker.begin(), marker.end());
    tail200.insert(tail200.end(), 42, 0xFF);
    const Case cases[] = {
        {0, 0, {}}, {128, 1, {}}, {200, 2, tail200}, {250, 2, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'Q'}}, {256, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        FakeTarget target;
        RecordingForm form;
        const Bytes data = Counting(c.length, 0x10);
        ProgramImage(form, *ImageOf(data));
        ASSERT_EQ(target.Writes().size(), c.blocks + 1);
        for (size_t k = 0; k < c.blocks; ++k) {
            const auto& w = target.Writes()[k];
            ASSERT_EQ(w.size(), 134u);
            const uint32_t at = uint32_t(w[1]) << 24 | w[2] << 16 | w[3] << 8 | w[4];
            EXPECT_EQ(at, k * 128);
            const size_t imageBytes = std::min<size_t>(128, c.length - k * 128);
            EXPECT_TRUE(std::equal(w.begin() + 5, w.begin() + 5 + imageBytes, data.begin() + k * 128));
            if (k + 1 == c.blocks) {
                EXPECT_TRUE(Bytes(w.begin() + 5 + imageBytes, w.end() - 1) == c.lastBlockTail);
            }
        }
        EXPECT_TRUE(target.Writes().back() == kEnd);
        EXPECT_EQ(form.statuses.front(), "File -> cpu board");
        EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
    }
}

TEST(ProgramImage, AddressBytesAndChecksums) {
    FakeTarget target;
    RecordingForm form;
    Bytes data(65536 + 128, 0x00);
    std::fill(data.begin(), data.begin() + 128, 0xFF);
    ProgramImage(form, *ImageOf(data));
    const auto& w = target.Writes();
    ASSERT_EQ(w.size(), 513u + 1);
    EXPECT_EQ(w[0][133], 0x30) << "all-0xFF block at address 0";
    EXPECT_TRUE(w[1] == BlockCommand(128, Bytes(128, 0)));
    EXPECT_TRUE(Bytes(w[3].begin() + 1, w[3].begin() + 5) == (Bytes{0x00, 0x00, 0x01, 0x80}));
    EXPECT_TRUE(Bytes(w[512].begin() + 1, w[512].begin() + 5) == (Bytes{0x00, 0x01, 0x00, 0x00}));

    FakeTarget zeros;
    RecordingForm form2;
    ProgramImage(form2, *ImageOf(Bytes(128, 0x00)));
    EXPECT_EQ(zeros.Writes()[0][133], 0xB0) << "all-0x00 block at address 0";
}

TEST(ProgramImage, FailuresStopTheTransfer) {
    struct Case {
        const char* what;
        std::function<Bytes(size_t)> reply;  // nullptr: acknowledge everything
        bool failReads;
        const char* status;
        size_t writes;    // commands sent, the end command included
        int64_t elapsed;  // virtual microseconds
    };
    const Bytes ack = {proto::kAck};
    const Case cases[] = {
        {"no reply to the third block", [&](size_t n) { return n == 2 ? Bytes{} : ack; }, false, "time out err1", 3,
         1000000},
        {"no reply to the first block", [](size_t) { return Bytes{}; }, false, "time out err1", 1, 1000000},
        {"NAK after the second block", [&](size_t n) { return n == 1 ? Bytes{0x15} : ack; }, false, "response err", 2,
         0},
        {"failing read", nullptr, true, "response err", 1, 0},
        {"NAK after the end command",
         [&](size_t n) {
             return n == 4 ? Bytes{0x15, 0x06} : ack;
         },
         false, "write err", 5, 0},
        {"no reply to the end command", [&](size_t n) { return n == 4 ? Bytes{} : ack; }, false, "time out err1", 5,
         1000000},
        {"acks followed by more bytes",
         [](size_t) {
             return Bytes{0x06, 0x15, 0x00};
         },
         false, "FLASH ROM write correct done!", 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeTarget target;
        if (c.reply) target.reply = c.reply;
        target.device->failReads = c.failReads ? LINK_IO_ERROR : LINK_OK;
        RecordingForm form;
        ProgramImage(form, *ImageOf(Counting(4 * 128)));
        EXPECT_EQ(form.LastStatusText(), c.status);
        EXPECT_EQ(target.Writes().size(), c.writes);
        EXPECT_EQ(target.Writes().back() == kEnd, c.writes == 5) << "the end command only after every block";
        EXPECT_EQ(form.clock.now, c.elapsed);
        EXPECT_EQ(form.beeps, std::string(c.status) == "FLASH ROM write correct done!" ? 1 : 0);
    }
}

TEST(ProgramImage, LateReplyIsPolledForWithThePumpBetweenPolls) {
    FakeTarget target;
    target.scope.provider->log.logStatusPolls = true;
    RecordingForm form;
    target.reply = [&](size_t n) {
        if (n == 0) form.At(form.clock.now + 250000, [&] { target.device->Feed({proto::kAck}); });
        return n == 0 ? Bytes{} : Bytes{proto::kAck};
    };
    ProgramImage(form, *ImageOf(Counting(16)));
    const auto& calls = target.scope.provider->log.calls;
    const std::vector<std::string> expected = {"GetStatus", "GetStatus", "GetStatus",
                                               "GetStatus", "GetStatus", "ReadBytes 1"};
    ASSERT_GE(calls.size(), 2 + expected.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 2, calls.begin() + 2 + expected.size()), expected);
    EXPECT_EQ(form.pumpPasses, 3) << "ticks at 100 and 200 ms, the reply at 250 ms";
    EXPECT_EQ(form.clock.now, 250000);
    EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
}

TEST(ProgramImage, ReplyReadNeverExceedsItsBuffer) {
    FakeTarget target;
    target.reply = [](size_t) { return Bytes(300, proto::kAck); };
    RecordingForm form;
    ProgramImage(form, *ImageOf(Counting(128)));
    const auto& calls = target.scope.provider->log.calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ReadBytes 256"), 2);
    EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
}

TEST(ProgramImage, NoBeepWithoutSound) {
    FakeTarget target;
    RecordingForm form;
    form.sound = false;
    ProgramImage(form, *ImageOf(Counting(10)));
    EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
    EXPECT_EQ(form.beeps, 0);
}

TEST(ProgramImage, ProgressFollowsTheBytesAndEndsFullAtTheLastBlock) {
    for (uint32_t length : {0u, 1u, 128u, 129u, 1000u, 65535u, 65536u, 100000u, 524288u, kMaxImageLength}) {
        SCOPED_TRACE(length);
        FakeTarget target;
        RecordingForm form;
        form.progressPos = 77;
        ProgramImage(form, *ImageOf(Bytes(length, 0x5A)));
        const int maximum = length == 0 ? 1 : static_cast<int>(std::min<uint32_t>(length, 65535));
        EXPECT_EQ(form.progressMax, maximum);
        const size_t blocks = (length + 127) / 128;
        ASSERT_EQ(form.positions.size(), blocks + 1);
        EXPECT_EQ(form.positions[0], 0);
        for (size_t k = 1; k <= blocks; ++k) {
            const uint64_t done = std::min<uint64_t>(k * 128, length);
            EXPECT_EQ(form.positions[k], static_cast<int>(done * maximum / length)) << "block " << k;
        }
        EXPECT_EQ(form.positions.back(), length == 0 ? 0 : maximum);
        if (blocks > 1) {
            EXPECT_LT(form.positions[blocks - 1], maximum);
        }
    }
}

TEST(ProgramImage, SkipBlankSendsNoBlankBlockButAlwaysTheLast) {
    // Blocks 1 and 3 are blank; the last one (4) is blank image bytes with the
    // trailer's start behind them, and is sent all the same.
    Bytes data = Counting(4 * 128 + 3, 0x21);
    std::fill(data.begin() + 128, data.begin() + 256, 0xFF);
    std::fill(data.begin() + 384, data.end(), 0xFF);
    FakeTarget target;
    RecordingForm form;
    ProgramOptions options;
    options.skipBlank = true;
    const WriteOutcome stats = ProgramImage(form, *ImageOf(data), options);

    std::vector<uint32_t> addresses;
    for (const auto& w : target.Writes())
        if (w.size() == 134) addresses.push_back(uint32_t(w[1]) << 24 | w[2] << 16 | w[3] << 8 | w[4]);
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0, 256, 512}));
    EXPECT_TRUE(target.Writes().back() == kEnd);
    EXPECT_EQ(stats.blocksSent, 3u);
    EXPECT_EQ(stats.blocksSkipped, 2u);
    EXPECT_TRUE(stats.Done());
    EXPECT_FALSE(stats.rateSuspect);
    EXPECT_EQ(form.statuses, (std::vector<std::string>{"File -> cpu board", "rssponse OK", "           ", "rssponse OK",
                                                       "FLASH ROM write correct done!"}));
    // The bar counts the image's bytes, skipped ones included, and ends full.
    EXPECT_EQ(form.positions.size(), 6u);
    EXPECT_EQ(form.positions.back(), form.progressMax);

    // Without the option every block goes out.
    FakeTarget all;
    RecordingForm form2;
    const WriteOutcome every = ProgramImage(form2, *ImageOf(data));
    EXPECT_EQ(all.Writes().size(), 6u);
    EXPECT_EQ(every.blocksSent, 5u);
    EXPECT_EQ(every.blocksSkipped, 0u);
}

TEST(ProgramImage, RepliesThatPointAtTheBitRate) {
    struct Case {
        const char* what;
        Bytes reply;  // to the second block
        Bytes later;  // fed 50 ms after it
        bool suspect;
    };
    const Case cases[] = {
        {"checksum error", {0xD0, proto::kErrChecksum}, {}, true},
        {"checksum error in two parts", {0xD0}, {proto::kErrChecksum}, true},
        {"address error", {0xD0, proto::kErrAddress}, {}, false},
        {"programming error in two parts", {0xD0}, {proto::kErrProgramming}, false},
        {"garbled byte", {0x60}, {}, true},
        {"error reply with an unknown code", {0xD0, 0x0F}, {}, true},
        {"error reply whose code never comes", {0xD0}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeTarget target;
        RecordingForm form;
        target.reply = [&](size_t n) {
            if (n == 1 && !c.later.empty())
                form.At(form.clock.now + 50000,
                        [&] { target.device->rx.insert(target.device->rx.end(), c.later.begin(), c.later.end()); });
            return n == 1 ? c.reply : Bytes{proto::kAck};
        };
        const WriteOutcome stats = ProgramImage(form, *ImageOf(Counting(3 * 128)));
        EXPECT_EQ(form.LastStatusText(), "response err");
        EXPECT_EQ(stats.blocksSent, 2u);
        EXPECT_EQ(stats.stage, WriteStage::Programming);
        EXPECT_EQ(stats.rateSuspect, c.suspect);
    }
    // After the end command too.
    FakeTarget target;
    target.reply = [](size_t n) { return n == 1 ? Bytes{0xD0, proto::kErrChecksum} : Bytes{proto::kAck}; };
    RecordingForm form;
    const WriteOutcome stats = ProgramImage(form, *ImageOf(Counting(16)));
    EXPECT_EQ(form.LastStatusText(), "write err");
    EXPECT_TRUE(stats.rateSuspect);
}

}  // namespace
