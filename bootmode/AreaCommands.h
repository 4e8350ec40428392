// The commands of the programming/erasing state that look at the flash
// instead of changing it: the user-area inquiry (0x25), the user-area sum
// (0x4B), the blank check (0x4D) and the memory read (0x52). They are valid
// after the user-area selection and after the end-of-programming command.
//
// Contract
// - Each call purges both queues, sends its command in one write and collects
//   the reply across as many reads as it takes. A read never asks for more
//   than the reply still lacks (nor more than 256 bytes), so a reply is held
//   in a buffer of its own size and nothing behind it is consumed.
// - The reply is judged whole: its first byte (the reply code, or the command
//   with 0x80 added and an error code), its size field against what the
//   command allows, and its checksum (the whole reply sums to 0 modulo 256).
//   A size larger than allowed ends the exchange as soon as the size arrives.
// - The wait is counted in ticks of form.WaitTicks and runs the message pump
//   between polls; it ends early once the reply is complete or judged bad.
// - The outcome is a ReplyFault and, for a good reply, its data; Describe
//   turns a fault into a short English text such as "no reply" or
//   "error reply 0xD2 0x2A (address not in the area)".
#pragma once

#include "protocol/Protocol.h"

#include <cstdint>
#include <string>
#include <vector>

class FormCore;

enum class ReplyFault {
    None,         // a good reply
    NoReply,      // nothing came within the wait
    CutShort,     // the reply began but did not complete within the wait
    Unexpected,   // the first byte is neither the reply code nor the error reply
    ErrorReply,   // the chip answered with its error reply and a code
    BadChecksum,  // the reply's bytes do not sum to 0
    BadSize,      // the size field is not what the command allows
};

struct AreaReply {
    ReplyFault fault = ReplyFault::NoReply;
    uint8_t first = 0;          // the reply's first byte (Unexpected, ErrorReply)
    uint8_t code = 0;           // ErrorReply: the error code
    uint32_t size = 0;          // the size field as received (BadSize)
    uint32_t received = 0;      // bytes of the reply received (CutShort)
    uint32_t expected = 0;      // bytes the reply should have had (CutShort)
    std::vector<uint8_t> data;  // None: the reply's data, without code, size and checksum

    bool Ok() const { return fault == ReplyFault::None; }
};

// One area of the user area inquiry: its first and last address.
struct FlashArea {
    uint32_t first = 0, last = 0;
};

// The largest number of bytes one memory read asks for.
constexpr uint32_t kMaxMemoryRead = 4096;

// 0x25: the user area's extent. `areas` is filled on success; a reply whose
// size does not match its count of areas, or with an area that ends before it
// begins, is BadSize.
AreaReply InquireUserArea(FormCore& form, std::vector<FlashArea>& areas);

// 0x4B: the 32-bit byte-wise sum of the whole user area, into `sum`.
AreaReply SumUserArea(FormCore& form, uint32_t& sum);

// 0x4D: a good reply (0x06) means every byte of the user area is 0xFF; the
// error reply 0xCD with code 0x52 means it is not.
AreaReply BlankCheckUserArea(FormCore& form);

// 0x52: `size` bytes of the user area from `address` (size 1 to
// kMaxMemoryRead) into reply.data. A reply of another size is BadSize.
// `bitRate` is the rate the link runs at, for the reply's wait.
AreaReply ReadUserArea(FormCore& form, uint32_t address, uint32_t size, uint32_t bitRate = proto::kWriteBitRate);

// The fault as a short text (empty for None).
std::string Describe(const AreaReply& reply);

// The ticks a memory read of `size` bytes waits for its reply: a second plus
// twice the reply's time on the wire at `bitRate`, or at 38400 bit/s when the
// link is faster.
int32_t MemoryReadTicks(uint32_t size, uint32_t bitRate = proto::kWriteBitRate);
