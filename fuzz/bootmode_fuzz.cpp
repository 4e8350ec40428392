// Fuzz target for the boot-mode exchange of a write.
//
// The write command runs on the recording fake driver and a virtual-time
// form, against a scripted chip that answers every command as a healthy
// H8SX/1622 would. The fuzz input changes those replies as a bad line or a
// confused chip might: each reply, in order, takes one operation from the
// input (keep, replace a byte, drop, delay, split, prepend or append bytes
// or a flood of them, unplug the converter). The first input byte chooses the
// image's length; the second whether blank blocks are skipped (bit 0) and
// which blocks are all 0xFF (bits 1 to 7, for blocks 0 to 6, 7 to 13, ...);
// the third the verify after the write (bits 0 and 1: 1 read back, 2 sum,
// else none) and a weak flash cell that keeps one programmed byte wrong
// (bits 2 to 7, 0 for none). The chip keeps its flash, so it answers the
// verify's memory reads and sums with what it holds.
// Checked on every input:
// - the write returns (within a bound of virtual time far above its
//   longest legitimate run) and LinkBusy ends clear;
// - no programming block is sent before an acknowledgement of the erase has
//   been read;
// - blocks go out in ascending order with the image's bytes and a correct
//   checksum: every block from 0 in steps of 128, or with skipping on, every
//   block but those of 0xFF only, the last block always; the end command
//   only after the last block, and nothing is sent after a failed block or
//   end command;
// - the outcome is Done only after every block and the end command were each
//   answered by an acknowledgement and "FLASH ROM write correct done!" was
//   shown, and without a verify whenever that was shown; its counts of
//   blocks sent and skipped are those seen on the line;
// - with a verify asked for, Done only after that verify passed and only
//   when the chip's flash holds the image; VerifyFailed only after the end
//   command was acknowledged;
// - an input that changes nothing gives a successful write.
#include "bootmode/Bench.h"
#include "bootmode/FlashVerify.h"
#include "bootmode/WriteCommand.h"
#include "core/WriteOutcome.h"
#include "image/FlashImage.h"
#include "image/ProgramImage.h"
#include "protocol/Protocol.h"
#include "support/FakeLink.h"
#include "support/TestForm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bootmode_fuzz: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

constexpr const char* kSuccess = "FLASH ROM write correct done!";
constexpr int64_t kGiveUpMicros = 10 * 60 * 1000000LL;  // a write ends well inside a minute

// What the host did and saw, in order.
struct Event {
    enum Kind { Write, Read, Status } kind;
    std::vector<uint8_t> bytes;
    std::string text;
};

// The input, consumed one byte at a time; exhausted, it reads as 0 (keep).
struct Script {
    const uint8_t* data;
    size_t size, pos = 0;
    bool changed = false;  // some operation other than "keep" was applied
    uint8_t Next() { return pos < size ? data[pos++] : 0; }
};

// A fake converter that also records what the host reads.
struct RecordingDevice : FakeDevice {
    RecordingDevice(FakeLog& log, std::vector<Event>& events) : FakeDevice(log), events(events) {}
    std::vector<Event>& events;

    uint32_t ReadBytes(uint8_t* b, uint32_t n, uint32_t* read) override {
        const uint32_t status = FakeDevice::ReadBytes(b, n, read);
        if (status == LINK_OK && *read > 0) events.push_back({Event::Read, {b, b + *read}, {}});
        return status;
    }
};

struct Provider : LinkProvider {
    FakeLog log;
    std::vector<Event>* events = nullptr;
    std::unique_ptr<RecordingDevice> device;
    std::vector<Entry> List() override { return {{"FUZZ0001", "fuzz"}}; }
    uint32_t Open(const std::string&, LinkDevice** out) override {
        device = std::make_unique<RecordingDevice>(log, *events);
        *out = device.get();
        return LINK_OK;
    }
};

class Form : public TestForm {
public:
    std::vector<Event>* events = nullptr;

    void ShowStatus(const std::string& text) override {
        TestForm::ShowStatus(text);
        events->push_back({Event::Status, {}, text});
    }
    void ProcessMessages() override {
        Check(clock.now < kGiveUpMicros, "the write does not end");
        TestForm::ProcessMessages();
    }
};

// The replies of a healthy chip, by the first byte of what the host sends,
// with the time the chip takes: those of the write command's test bench, and
// an acknowledgement for each block and the end command.
const std::map<uint8_t, ChipScript::Reply>& HealthyReplies() {
    static const std::map<uint8_t, ChipScript::Reply> replies = [] {
        std::map<uint8_t, ChipScript::Reply> r = GoodChip().replies;
        r[proto::kProgram] = {{proto::kAck}};
        return r;
    }();
    return replies;
}

// Answers each write of the host, changed as the script says. The chip talks
// at the adjustment rate until it has answered the new bit rate, then at the
// write rate; a write at another rate than the chip's goes unanswered.
struct Chip {
    Script* script;
    RecordingDevice* dev;
    Form* form;
    uint32_t rate = proto::kAdjustBitRate;
    // The user area: 2 KiB, more than the largest image of the target.
    static constexpr uint32_t kFlashSize = 2048;
    std::vector<uint8_t> flash = std::vector<uint8_t>(kFlashSize, 0x00);
    int64_t weakCell = -1;  // this address keeps bit 0 flipped when programmed

    static std::vector<uint8_t> Framed(std::vector<uint8_t> f) {
        f.push_back(proto::FrameChecksum(f.data(), f.size()));
        return f;
    }
    static void Be32(std::vector<uint8_t>& f, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<uint8_t>(v >> shift));
    }
    static uint32_t Be32At(const uint8_t* b) {
        return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
    }

    // What the flash does with a command, and the reply of the commands
    // that look at it; false for the others, which take the healthy replies.
    bool FlashReply(const std::vector<uint8_t>& w, std::vector<uint8_t>& reply) {
        switch (w[0]) {
        case proto::kEnterProgramming: std::fill(flash.begin(), flash.end(), 0xFF); return false;
        case proto::kProgram:
            if (w.size() == proto::kBlockCommandSize) {
                const uint32_t at = Be32At(&w[1]);
                for (uint32_t k = 0; k < proto::kBlockSize && uint64_t{at} + k < kFlashSize; ++k)
                    flash[at + k] = static_cast<uint8_t>(w[5 + k] ^ (int64_t{at} + k == weakCell ? 1 : 0));
            }
            return false;
        case proto::kUserAreaInquiry: {
            std::vector<uint8_t> f = {proto::kUserAreaReply, 9, 1};
            Be32(f, 0);
            Be32(f, kFlashSize - 1);
            reply = Framed(f);
            return true;
        }
        case proto::kUserSumCheck: {
            uint32_t sum = 0;
            for (uint8_t b : flash) sum += b;
            std::vector<uint8_t> f = {proto::kUserSumReply, 4};
            Be32(f, sum);
            reply = Framed(f);
            return true;
        }
        case proto::kMemoryRead: {
            if (w.size() < 11) return false;
            const uint32_t at = Be32At(&w[3]), n = Be32At(&w[7]);
            if (w[2] != proto::kAreaUser || n == 0 || uint64_t{at} + n > kFlashSize) {
                reply = {static_cast<uint8_t>(proto::kMemoryRead | proto::kErrorFlag), proto::kErrAddress};
                return true;
            }
            std::vector<uint8_t> f = {proto::kMemoryReadReply};
            Be32(f, n);
            f.insert(f.end(), flash.begin() + at, flash.begin() + at + n);
            reply = Framed(f);
            return true;
        }
        default: return false;
        }
    }

    void Deliver(std::vector<uint8_t> bytes, int64_t delay) {
        if (bytes.empty()) return;
        RecordingDevice* d = dev;
        if (delay == 0)
            d->rx.insert(d->rx.end(), bytes.begin(), bytes.end());
        else
            form->At(form->clock.now + delay, [d, bytes] { d->rx.insert(d->rx.end(), bytes.begin(), bytes.end()); });
    }

    void OnWrite(const std::vector<uint8_t>& written) {
        if (written.empty() || dev->rate != rate) return;
        std::vector<uint8_t> reply;
        int64_t delay = 0;
        if (!FlashReply(written, reply)) {
            auto it = HealthyReplies().find(written[0]);
            if (it == HealthyReplies().end()) return;
            reply = it->second.bytes;
            delay = it->second.delay;
        }
        if (written[0] == proto::kNewBitRate) rate = proto::kWriteBitRate;

        const uint8_t op = script->Next();
        const unsigned param = op >> 3;
        switch (op & 7) {
        case 0:
        case 1:  // as sent
            break;
        case 2: {  // split: the rest arrives later
            script->changed = true;
            const size_t at = 1 + param % reply.size();
            std::vector<uint8_t> rest(reply.begin() + static_cast<long>(std::min(at, reply.size())), reply.end());
            reply.resize(std::min(at, reply.size()));
            Deliver(rest, delay + (script->Next() + 1) * 20000);
            break;
        }
        case 3:  // one byte replaced
            script->changed = true;
            reply[param % reply.size()] = script->Next();
            break;
        case 4:  // dropped; with the highest parameter the converter is unplugged too
            script->changed = true;
            reply.clear();
            if (param == 31) dev->failStatus = LINK_IO_ERROR;
            break;
        case 5:  // late: up to 38 s
            script->changed = true;
            delay += int64_t{param} * param * 40000;
            break;
        case 6:    // bytes before it
        case 7: {  // bytes behind it: a few from the input, or a flood of up to 512
            script->changed = true;
            std::vector<uint8_t> extra;
            if (param < 24) {
                extra.resize(param % 4 + 1);
                for (uint8_t& b : extra) b = script->Next();
            } else {
                const size_t n = (script->Next() + 1u) * 2u;
                extra.assign(n, script->Next());
            }
            reply.insert((op & 7) == 6 ? reply.begin() : reply.end(), extra.begin(), extra.end());
            break;
        }
        }
        Deliver(reply, delay);
    }
};

bool IsBlock(const Event& e) {
    return e.kind == Event::Write && e.bytes.size() == proto::kBlockCommandSize && e.bytes[0] == proto::kProgram;
}
bool IsEnd(const Event& e) {
    return e.kind == Event::Write && e.bytes.size() == sizeof proto::kEndCommand &&
           std::memcmp(e.bytes.data(), proto::kEndCommand, sizeof proto::kEndCommand) == 0;
}

// True when a read between events[i] (a write) and the next write began
// with an acknowledgement.
bool AcknowledgedAfter(const std::vector<Event>& events, size_t i) {
    for (size_t k = i + 1; k < events.size() && events[k].kind != Event::Write; ++k)
        if (events[k].kind == Event::Read && events[k].bytes[0] == proto::kAck) return true;
    return false;
}

// True when the 128 bytes of the block at `at` are all 0xFF.
bool BlankBlock(const FlashImage& image, uint32_t at) {
    for (uint32_t k = 0; k < proto::kBlockSize; ++k)
        if (image.Bytes()[at + k] != 0xFF) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FlashImage image;
    if (size < 3) return 0;

    // The image: up to fifteen blocks, any length (0 too), with its trailer;
    // the blocks the second byte marks are all 0xFF.
    image.ImageLength = data[0] * 15u * proto::kBlockSize / 255u;
    for (uint32_t i = 0; i < image.ImageLength; ++i) {
        const uint32_t block = i / proto::kBlockSize;
        const bool blank = (data[1] >> (1 + block % 7)) & 1;
        image.Bytes()[i] = blank ? 0xFF : static_cast<uint8_t>(i * 7 + 3);
    }
    image.StoreTrailer();
    ProgramOptions program;
    program.skipBlank = data[1] & 1;
    const VerifyMode verify = (data[2] & 3) == 1   ? VerifyMode::Read
                              : (data[2] & 3) == 2 ? VerifyMode::Sum
                                                   : VerifyMode::None;
    const unsigned weak = data[2] >> 2;

    // The offsets of the blocks that go out, in order.
    const uint32_t blocks = (image.ImageLength + proto::kBlockSize - 1) / proto::kBlockSize;
    std::vector<uint32_t> expected;
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint32_t at = k * proto::kBlockSize;
        if (!program.skipBlank || k + 1 == blocks || !BlankBlock(image, at)) expected.push_back(at);
    }

    std::vector<Event> events;
    Script script{data + 3, size - 3};
    WriteOutcome outcome;
    bool flashHoldsImage = false;
    {
        auto owned = std::make_unique<Provider>();
        Provider* provider = owned.get();
        provider->events = &events;
        DeviceHandle = nullptr;
        LastStatus = 0;
        SetLinkProvider(std::move(owned));

        Form form;
        form.events = &events;
        LinkHandle h = nullptr;
        OpenBySerialNumber("FUZZ0001", OPEN_BY_SERIAL_NUMBER, &h);
        DeviceHandle = h;
        RecordingDevice* dev = provider->device.get();
        Chip chip{&script, dev, &form};
        // The weak cell counts as a change only where it spoils a byte sent.
        if (weak != 0 && image.ProgrammedEnd() != 0) {
            chip.weakCell = (weak - 1) * 131 % image.ProgrammedEnd();
            for (uint32_t at : expected)
                if (chip.weakCell >= at && chip.weakCell < at + proto::kBlockSize) script.changed = true;
        }
        std::vector<uint8_t>* flash = &chip.flash;
        dev->onWrite = [&](const std::vector<uint8_t>& written) {
            events.push_back({Event::Write, written, {}});
            chip.OnWrite(written);
        };

        outcome = Button1Click(form, [&](FormCore& f) {
            return VerifyAfterWrite(f, ProgramImage(f, image, program), image.Bytes(), image.ProgrammedEnd(), verify);
        });
        flashHoldsImage = std::equal(image.Bytes(), image.Bytes() + image.ProgrammedEnd(), flash->begin());
        Check(form.LinkBusy == 0, "LinkBusy is still set after the write");

        DeviceHandle = nullptr;
        LastStatus = 0;
        SetLinkProvider(nullptr);
    }

    // With FUZZ_TRACE set (to look into a finding) the exchange is printed.
    if (std::getenv("FUZZ_TRACE")) {
        for (const Event& e : events) {
            if (e.kind == Event::Status)
                std::fprintf(stderr, "status \"%s\"\n", e.text.c_str());
            else
                std::fprintf(stderr, "%s %s\n", e.kind == Event::Write ? "write" : "read ",
                             FakeDevice::Hex(e.bytes.data(), static_cast<uint32_t>(e.bytes.size())).c_str());
        }
        std::fprintf(stderr, "outcome %d stage %d \"%s\", %u blocks sent, %u skipped\n",
                     static_cast<int>(outcome.result), static_cast<int>(outcome.stage), outcome.message.c_str(),
                     outcome.blocksSent, outcome.blocksSkipped);
    }

    // The order of the exchange.
    bool eraseSent = false, eraseAcked = false, endSent = false, allAcked = true, successShown = false, failed = false;
    uint32_t blocksSent = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        Check(!(failed && e.kind == Event::Write), "bytes sent after the programming failed");
        if (e.kind == Event::Status && (e.text == "time out err1" || e.text == "response err" || e.text == "write err"))
            failed = true;
        if (e.kind == Event::Write && e.bytes.size() == 1 && e.bytes[0] == proto::kEnterProgramming) eraseSent = true;
        if (e.kind == Event::Read && eraseSent) {
            for (size_t k = 0; k < e.bytes.size(); ++k) eraseAcked |= e.bytes[k] == proto::kAck;
        }
        if (IsBlock(e)) {
            Check(eraseAcked, "a block before the erase was acknowledged");
            Check(!endSent, "a block after the end command");
            Check(blocksSent < expected.size(), "more blocks than the image has to send");
            const uint32_t at = expected[blocksSent];
            const uint8_t* b = e.bytes.data();
            Check(Chip::Be32At(b + 1) == at, program.skipBlank
                                                 ? "blocks out of order, or a block skipped that is not blank"
                                                 : "blocks do not ascend by 128 from 0");
            Check(std::memcmp(b + 5, image.Bytes() + at, proto::kBlockSize) == 0, "a block without the image's bytes");
            Check(proto::FrameChecksum(b, e.bytes.size()) == 0, "a block with a wrong checksum");
            allAcked &= AcknowledgedAfter(events, i);
            ++blocksSent;
        }
        if (IsEnd(e)) {
            Check(eraseAcked, "the end command before the erase was acknowledged");
            Check(blocksSent == expected.size(), "the end command before the last block");
            endSent = true;
            allAcked &= AcknowledgedAfter(events, i);
        }
        if (e.kind == Event::Status && e.text == kSuccess) {
            Check(endSent && blocksSent == expected.size() && allAcked,
                  "success shown without every block and the end command acknowledged");
            successShown = true;
        }
    }

    // The outcome.
    Check(!outcome.Done() || successShown, "Done without the success message");
    Check(!successShown || verify != VerifyMode::None || outcome.Done(), "the success message without Done");
    if (outcome.result == WriteResult::VerifyFailed)
        Check(verify != VerifyMode::None && successShown, "a verify failed that was not asked for or not due");
    if (outcome.Done() && verify != VerifyMode::None) {
        Check(outcome.verify.passed && outcome.verify.mode == verify, "Done without a passed verify");
        Check(flashHoldsImage, "Done after a verify, and the flash does not hold the image");
    }
    if (outcome.Done() && verify == VerifyMode::None)
        Check(outcome.verify.mode == VerifyMode::None, "a verify not asked for");
    if (outcome.Done()) {
        Check(endSent && blocksSent == expected.size() && allAcked,
              "Done without every block and the end command acknowledged");
        Check(outcome.blocksSkipped == blocks - expected.size(), "the outcome's count of skipped blocks is wrong");
    } else {
        Check(outcome.result == WriteResult::TargetFailed || outcome.result == WriteResult::LinkFailed ||
                  outcome.result == WriteResult::VerifyFailed,
              "a failed write that is neither a target, a link nor a verify failure");
        Check(!outcome.message.empty(), "a failed write without a message");
    }
    // A block whose write the converter refused counts as sent but never
    // reached the line.
    Check(outcome.Done() ? outcome.blocksSent == blocksSent
                         : outcome.blocksSent == blocksSent || outcome.blocksSent == blocksSent + 1,
          "the outcome's count of blocks sent is wrong");
    Check(outcome.Done() || script.changed, "a write with a healthy chip did not succeed");
    return 0;
}
