#include "image/ProgramImage.h"

#include "app/FormCore.h"
#include "protocol/Protocol.h"
#include "link/Driver.h"

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

// Sends one block and waits for its acknowledgement. False after showing the
// failure.
bool ProgramBlock(FormCore& form, const FlashImage& image, uint32_t position) {
    // 1. The command: 0x50, the address (most significant byte first), the
    //    128 bytes from that offset, the checksum.
    uint8_t command[proto::kBlockCommandSize];
    command[0] = proto::kProgram;
    command[1] = static_cast<uint8_t>(position >> 24);
    command[2] = static_cast<uint8_t>(position >> 16);
    command[3] = static_cast<uint8_t>(position >> 8);
    command[4] = static_cast<uint8_t>(position);
    std::memcpy(command + 5, image.Bytes() + position, proto::kBlockSize);
    command[proto::kBlockCommandSize - 1] = proto::FrameChecksum(command, proto::kBlockCommandSize - 1);

    // 2. Purge both queues and send it.
    uint32_t written = 0;
    PurgeBuffers(DeviceHandle, PURGE_BOTH);
    WriteBytes(DeviceHandle, command, sizeof command, &written);

    // 3. Wait for the reply: ten ticks, the countdown tested before each pass
    //    of the pump. The wait ends as soon as a poll finds bytes waiting.
    form.WaitTicks = kReplyTicks;
    uint32_t waiting = 0, tx = 0, events = 0;
    if (GetStatus(DeviceHandle, &waiting, &tx, &events) != LINK_OK) waiting = 0;
    while (waiting == 0) {
        LastStatus = GetStatus(DeviceHandle, &waiting, &tx, &events);
        if (LastStatus != LINK_OK) waiting = 0;
        if (waiting != 0) break;  // the reply is here: no timeout, no extra pass
        if (form.WaitTicks == 0) {
            form.ShowStatus("time out err1");
            return false;
        }
        form.ProcessMessages();
    }

    // 4. Read it; only an acknowledgement as its first byte lets us go on.
    uint8_t reply[kReplyBufferSize];
    reply[0] = 0;
    uint32_t got = 0;
    LastStatus = ReadBytes(DeviceHandle, reply, ReplyCount(waiting), &got);
    if (LastStatus != LINK_OK || got == 0 || reply[0] != proto::kAck) {
        form.ShowStatus("response err");
        return false;
    }
    return true;
}

// Sends the end-of-programming command and reports the outcome of the write.
void EndProgramming(FormCore& form) {
    // 1. Purge and send the command.
    uint32_t written = 0;
    PurgeBuffers(DeviceHandle, PURGE_BOTH);
    WriteBytes(DeviceHandle, proto::kEndCommand, sizeof proto::kEndCommand, &written);

    // 2. Wait for the reply: ten ticks, one pass of the pump before each test
    //    of the countdown. The wait ends as soon as a poll finds bytes waiting.
    form.WaitTicks = kReplyTicks;
    uint32_t waiting = 0, tx = 0, events = 0;
    if (GetStatus(DeviceHandle, &waiting, &tx, &events) != LINK_OK) waiting = 0;
    while (waiting == 0) {
        if (GetStatus(DeviceHandle, &waiting, &tx, &events) != LINK_OK) waiting = 0;
        if (waiting != 0) break;
        form.ProcessMessages();
        if (form.WaitTicks == 0) {
            form.ShowStatus("time out err1");
            return;
        }
    }

    // 3. Read it and judge by its first byte.
    uint8_t reply[kReplyBufferSize];
    std::memset(reply, 0, 20);
    uint32_t got = 0;
    LastStatus = ReadBytes(DeviceHandle, reply, ReplyCount(waiting), &got);
    if (LastStatus == LINK_OK && got > 0 && reply[0] == proto::kAck) {
        form.ShowStatus("FLASH ROM write correct done!");
        form.SoundBeep();
    } else {
        form.ShowStatus("write err");
    }
}

}  // namespace

void ProgramImage(FormCore& form, const FlashImage& image) {
    const uint32_t length = image.ImageLength;

    // 1. Set-up: the bar at 0 against at most 65535 steps (and at least one:
    //    a bar whose maximum is 0 shows itself as busy).
    const uint32_t maximum = length == 0 ? 1 : length < kProgressMaximum ? length : kProgressMaximum;
    form.SetProgressPosition(0);
    form.SetProgressMaximum(static_cast<int>(maximum));
    form.ShowStatus("File -> cpu board");

    // 2. The blocks, each acknowledged before the next is sent.
    uint8_t acknowledged = 0;
    for (uint32_t position = 0; position < length; position += proto::kBlockSize) {
        if (!ProgramBlock(form, image, position)) return;
        ++acknowledged;
        form.ShowStatus(acknowledged & 1 ? kBlockAckedOdd : kBlockAckedEven);
        form.SetProgressPosition(ProgressFor(uint64_t{position} + proto::kBlockSize, length, maximum));
    }

    // 3. The end command.
    EndProgramming(form);
}
