#include "image/ProgramImage.h"

#include "core/FormCore.h"
#include "link/Driver.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kReplyTicks = 10;
constexpr uint32_t kReplyBufferSize = 256;
constexpr uint32_t kProgressMaximum = 65535;  // the bar's range is kept within 16 bits

constexpr const char* kBlockAckedOdd = "rssponse OK";
constexpr const char* kBlockAckedEven = "           ";  // eleven spaces

uint32_t ReplyCount(uint32_t waiting) { return waiting < kReplyBufferSize ? waiting : kReplyBufferSize; }

// The bar's position once `done` of `length` bytes are programmed.
int ProgressFor(uint64_t done, uint32_t length, uint32_t maximum) {
    if (done >= length) return static_cast<int>(maximum);
    return static_cast<int>(done * maximum / length);
}

// Shows a failure of programming and returns it as the outcome.
WriteOutcome Failed(FormCore& form, WriteStage stage, const char* message) {
    form.ShowStatus(message);
    return WriteOutcome::TargetFailed(stage, message);
}

// Polls until another byte waits or the countdown has run out; how many wait.
uint32_t AwaitMore(FormCore& form) {
    uint32_t waiting = 0, tx = 0, events = 0;
    while (form.WaitTicks != 0) {
        if (GetStatus(DeviceHandle, &waiting, &tx, &events) == LINK_OK && waiting != 0) return waiting;
        form.ProcessMessages();
    }
    return 0;
}

// Whether a reply other than the acknowledgement points at the bit rate: it
// is not a well-formed error reply (the command's code with 0x80 added, then
// an error code the chip gives to programming), or it reports a checksum
// error. An error reply whose code has not yet arrived is waited for as long
// as the reply's countdown allows.
bool RateSuspect(FormCore& form, const uint8_t* reply, uint32_t got) {
    constexpr uint8_t kErrorReply = proto::kProgram | proto::kErrorFlag;
    if (got == 0 || reply[0] != kErrorReply) return true;
    uint8_t code = 0;
    if (got >= 2) {
        code = reply[1];
    } else {
        const uint32_t waiting = AwaitMore(form);
        if (waiting == 0) return true;
        uint8_t more[kReplyBufferSize];
        uint32_t read = 0;
        if (ReadBytes(DeviceHandle, more, ReplyCount(waiting), &read) != LINK_OK || read == 0) return true;
        code = more[0];
    }
    const uint8_t kKnown[] = {proto::kErrAddress, proto::kErrProgramming, proto::kErrCommand};
    return std::find(std::begin(kKnown), std::end(kKnown), code) == std::end(kKnown);
}

// A failure after a reply other than the acknowledgement, judged for the bit rate.
WriteOutcome FailedReply(FormCore& form, WriteStage stage, const char* message, const uint8_t* reply, uint32_t got) {
    const bool suspect = LastStatus == LINK_OK && RateSuspect(form, reply, got);
    WriteOutcome outcome = Failed(form, stage, message);
    outcome.rateSuspect = suspect;
    return outcome;
}

// True when the 128 bytes at `position` are all 0xFF.
bool Blank(const FlashImage& image, uint32_t position) {
    const uint8_t* p = image.Bytes() + position;
    return std::all_of(p, p + proto::kBlockSize, [](uint8_t b) { return b == 0xFF; });
}

// Sends one block and waits for its acknowledgement. Done, or the failure
// after showing it.
WriteOutcome ProgramBlock(FormCore& form, const FlashImage& image, uint32_t position) {
    // The command: 0x50, the address (most significant byte first), the 128
    // bytes from that offset, the checksum.
    uint8_t command[proto::kBlockCommandSize];
    command[0] = proto::kProgram;
    command[1] = static_cast<uint8_t>(position >> 24);
    command[2] = static_cast<uint8_t>(position >> 16);
    command[3] = static_cast<uint8_t>(position >> 8);
    command[4] = static_cast<uint8_t>(position);
    std::memcpy(command + 5, image.Bytes() + position, proto::kBlockSize);
    command[proto::kBlockCommandSize - 1] = proto::FrameChecksum(command, proto::kBlockCommandSize - 1);

    // Both queues are purged first, so the reply read is this block's.
    uint32_t written = 0;
    PurgeBuffers(DeviceHandle, PURGE_BOTH);
    WriteBytes(DeviceHandle, command, sizeof command, &written);

    // The reply wait: ten ticks, the countdown tested before each pass
    //    of the pump. The wait ends as soon as a poll finds bytes waiting.
    form.WaitTicks = kReplyTicks;
    uint32_t waiting = 0, tx = 0, events = 0;
    if (GetStatus(DeviceHandle, &waiting, &tx, &events) != LINK_OK) waiting = 0;
    while (waiting == 0) {
        LastStatus = GetStatus(DeviceHandle, &waiting, &tx, &events);
        if (LastStatus != LINK_OK) waiting = 0;
        if (waiting != 0) break;  // the reply is here: no timeout, no extra pass
        if (form.WaitTicks == 0) return Failed(form, WriteStage::Programming, "time out err1");
        form.ProcessMessages();
    }

    // Only an acknowledgement as the reply's first byte lets the write go on.
    uint8_t reply[kReplyBufferSize];
    reply[0] = 0;
    uint32_t got = 0;
    LastStatus = ReadBytes(DeviceHandle, reply, ReplyCount(waiting), &got);
    if (LastStatus != LINK_OK || got == 0 || reply[0] != proto::kAck)
        return FailedReply(form, WriteStage::Programming, "response err", reply, got);
    return WriteOutcome{};
}

// Sends the end-of-programming command and reports the outcome of the write.
WriteOutcome EndProgramming(FormCore& form) {
    uint32_t written = 0;
    PurgeBuffers(DeviceHandle, PURGE_BOTH);
    WriteBytes(DeviceHandle, proto::kEndCommand, sizeof proto::kEndCommand, &written);

    // The reply wait: ten ticks, one pass of the pump before each test
    //    of the countdown. The wait ends as soon as a poll finds bytes waiting.
    form.WaitTicks = kReplyTicks;
    uint32_t waiting = 0, tx = 0, events = 0;
    if (GetStatus(DeviceHandle, &waiting, &tx, &events) != LINK_OK) waiting = 0;
    while (waiting == 0) {
        if (GetStatus(DeviceHandle, &waiting, &tx, &events) != LINK_OK) waiting = 0;
        if (waiting != 0) break;
        form.ProcessMessages();
        if (form.WaitTicks == 0) return Failed(form, WriteStage::EndProgramming, "time out err1");
    }

    // The reply is judged by its first byte.
    uint8_t reply[kReplyBufferSize];
    std::memset(reply, 0, 20);
    uint32_t got = 0;
    LastStatus = ReadBytes(DeviceHandle, reply, ReplyCount(waiting), &got);
    if (LastStatus != LINK_OK || got == 0 || reply[0] != proto::kAck)
        return FailedReply(form, WriteStage::EndProgramming, "write err", reply, got);
    form.ShowStatus("FLASH ROM write correct done!");
    form.SoundBeep();
    return WriteOutcome{};
}

}  // namespace

WriteOutcome ProgramImage(FormCore& form, const FlashImage& image, const ProgramOptions& options) {
    const uint32_t length = image.ImageLength;

    // The bar starts at 0 against at most 65535 steps (and at least one: a
    // bar whose maximum is 0 shows itself as busy).
    const uint32_t maximum = length == 0 ? 1 : length < kProgressMaximum ? length : kProgressMaximum;
    form.SetProgressPosition(0);
    form.SetProgressMaximum(static_cast<int>(maximum));
    form.ShowStatus("File -> cpu board");

    // The blocks, each acknowledged before the next is sent. A stop is
    // honoured between them: the block in flight is answered first.
    // With skipBlank, blank blocks stay unsent, but never the last one.
    uint8_t acknowledged = 0;
    uint32_t sent = 0, skipped = 0;
    uint32_t position = 0;
    auto counted = [&](WriteOutcome outcome) {
        outcome.blocksSent = sent;
        outcome.blocksSkipped = skipped;
        outcome.programmedTo = position < length ? position : length;
        return outcome;
    };
    for (; position < length; position += proto::kBlockSize) {
        if (form.StopRequested) return counted(WriteOutcome::Interrupted(WriteStage::Programming));
        const bool last = uint64_t{position} + proto::kBlockSize >= length;
        if (options.skipBlank && !last && Blank(image, position)) {
            ++skipped;
        } else {
            ++sent;
            WriteOutcome block = ProgramBlock(form, image, position);
            if (!block.Done()) return counted(block);
            ++acknowledged;
            form.ShowStatus(acknowledged & 1 ? kBlockAckedOdd : kBlockAckedEven);
        }
        form.SetProgressPosition(ProgressFor(uint64_t{position} + proto::kBlockSize, length, maximum));
    }
    if (form.StopRequested) return counted(WriteOutcome::Interrupted(WriteStage::EndProgramming));
    return counted(EndProgramming(form));
}
