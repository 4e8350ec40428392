// The bytes of the H8SX boot-mode serial protocol, named once for the host
// side (bootmode/, image/) and the simulated chip (sim/); this folder depends
// on nothing, so both may include it.
//
// Framing: command byte, size byte, data, checksum, where the checksum is the
// two's complement of the 8-bit sum of all bytes before it, so a whole frame
// sums to 0 modulo 256. Single-byte commands carry no size and no checksum.
// The programming command 0x50 carries a 4-byte address instead of a size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace proto {

// Bit-rate adjustment (at 19200 bit/s).
constexpr uint8_t kSyncByte = 0x00;  // host sends these until the chip echoes one
constexpr uint8_t kSyncAnswer = 0x00;
constexpr uint8_t kSyncConfirm = 0x55;
constexpr uint8_t kSyncConfirmed = 0xE6;
constexpr uint8_t kSyncFailed = 0xFF;  // the chip's answer when the confirmation fails

// Commands.
constexpr uint8_t kDeviceInquiry = 0x20;
constexpr uint8_t kDeviceSelect = 0x10;
constexpr uint8_t kClockModeInquiry = 0x21;
constexpr uint8_t kClockModeSelect = 0x11;
constexpr uint8_t kRatioInquiry = 0x22;
constexpr uint8_t kFrequencyInquiry = 0x23;
constexpr uint8_t kNewBitRate = 0x3F;
constexpr uint8_t kBitRateConfirm = 0x06;    // sent at the new rate
constexpr uint8_t kEnterProgramming = 0x40;  // the chip erases its flash, then answers
constexpr uint8_t kUserMatSelect = 0x43;
constexpr uint8_t kProgram = 0x50;
// Valid in the programming/erasing state (after 0x40's acknowledgement, and
// again after the end of programming):
constexpr uint8_t kMemoryRead = 0x52;       // area, start, size: the bytes read back
constexpr uint8_t kUserSumCheck = 0x4B;     // 32-bit byte-wise total of the user area
constexpr uint8_t kUserBlankCheck = 0x4D;   // 0x06 when the user area is all 0xFF
constexpr uint8_t kUserAreaInquiry = 0x25;  // first and last address of each user area
// Areas of the memory read.
constexpr uint8_t kAreaUserBoot = 0x00;
constexpr uint8_t kAreaUser = 0x01;

// Replies.
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kInquiryReplyOffset = 0x10;  // reply code = inquiry code + 0x10
constexpr uint8_t kDeviceInquiryReply = 0x30;
constexpr uint8_t kClockModeReply = 0x31;
constexpr uint8_t kRatioReply = 0x32;
constexpr uint8_t kFrequencyReply = 0x33;
constexpr uint8_t kUserAreaReply = 0x35;
constexpr uint8_t kMemoryReadReply = 0x52;  // then a 4-byte size, the data, checksum
constexpr uint8_t kUserSumReply = 0x5B;
constexpr uint8_t kErrorFlag = 0x80;  // error reply = command | 0x80, then a code

// Error codes of an error reply.
constexpr uint8_t kErrChecksum = 0x11;
constexpr uint8_t kErrDeviceCode = 0x21;
constexpr uint8_t kErrClockMode = 0x22;
constexpr uint8_t kErrBitRate = 0x24;
constexpr uint8_t kErrInputFrequency = 0x25;
constexpr uint8_t kErrRatio = 0x26;
constexpr uint8_t kErrOperatingFrequency = 0x27;
constexpr uint8_t kErrAddress = 0x2A;    // also: a read's start is not in the area
constexpr uint8_t kErrReadSize = 0x2B;   // a read reaches past the end of the area
constexpr uint8_t kErrNotErased = 0x52;  // blank check: the area holds programmed bytes
constexpr uint8_t kErrProgramming = 0x53;
constexpr uint8_t kErrErase = 0x51;
constexpr uint8_t kErrCommand = 0x80;  // command not accepted in the chip's state

// The programming command: 0x50, 4 address bytes (most significant first),
// 128 data bytes, checksum.
constexpr size_t kBlockSize = 128;
constexpr size_t kBlockCommandSize = 1 + 4 + kBlockSize + 1;  // 134
// The end of programming: 0x50 with address FFFFFFFF and no data.
constexpr uint8_t kEndCommand[6] = {0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};

// The writer's session with this chip and board.
constexpr uint32_t kAdjustBitRate = 19200;                // bit-rate adjustment up to the new bit rate
constexpr uint32_t kWriteBitRate = 38400;                 // from the new-bit-rate confirmation on
constexpr uint8_t kDeviceCode[4] = {'3', 'u', '0', '1'};  // device selection data
constexpr uint8_t kClockMode = 0x00;                      // clock-mode selection data
// New-bit-rate data: bit rate in 100 bit/s, input clock in 0.01 MHz (both
// most significant byte first), the number of ratios, the ratios.
constexpr uint16_t kNewBitRateUnits = 384;            // 38400 bit/s
constexpr uint16_t kInputClockUnits = 1250;           // 12.50 MHz
constexpr uint8_t kMultiplicationRatios[2] = {4, 2};  // 12.5 MHz x 4 = 50 MHz CPU clock

// The checksum byte that makes `n` bytes plus itself sum to 0 modulo 256.
inline uint8_t FrameChecksum(const uint8_t* bytes, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(0u - sum);
}

}  // namespace proto
