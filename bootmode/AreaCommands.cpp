#include "bootmode/AreaCommands.h"

#include "bootmode/AwaitReply.h"
#include "core/FormCore.h"
#include "link/Driver.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int32_t kInquiryTicks = 10;
// The chip runs over its whole user area for the sum and the blank check.
constexpr int32_t kWholeAreaTicks = 50;

// What a good reply looks like.
struct Shape {
    uint8_t code;       // its first byte
    uint8_t sizeBytes;  // 0: the reply is that byte alone; else the width of its size field
    uint32_t maxData;   // the largest size field allowed
    bool exact;         // the size field must be maxData
};

uint32_t BigEndian(const uint8_t* p, unsigned n) {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Sends `command` and collects its reply.
AreaReply Exchange(FormCore& form, const std::vector<uint8_t>& command, const Shape& shape, int32_t ticks) {
    AreaReply reply;
    const uint8_t errorByte = static_cast<uint8_t>(command[0] | proto::kErrorFlag);

    PurgeBuffers(DeviceHandle, PURGE_BOTH);
    uint32_t written = 0;
    WriteBytes(DeviceHandle, command.data(), static_cast<uint32_t>(command.size()), &written);

    // The reply so far; `need` is its length as far as it is known yet.
    std::vector<uint8_t> bytes;
    size_t need = 1;
    bool sized = false;
    form.WaitTicks = ticks;
    for (;;) {
        uint32_t waiting = 0, tx = 0, events = 0;
        if (GetStatus(DeviceHandle, &waiting, &tx, &events) != LINK_OK) waiting = 0;
        if (waiting > 0) {
            const uint32_t ask =
                static_cast<uint32_t>(std::min<size_t>({waiting, need - bytes.size(), kReceiveBufferSize}));
            uint8_t buffer[kReceiveBufferSize];
            uint32_t got = 0;
            LastStatus = ReadBytes(DeviceHandle, buffer, ask, &got);
            if (LastStatus == LINK_OK && got > 0) {
                bytes.insert(bytes.end(), buffer, buffer + std::min(got, ask));
                // Judge what the bytes so far decide.
                if (bytes.size() == 1) {
                    reply.first = bytes[0];
                    if (bytes[0] == errorByte) {
                        need = 2;
                    } else if (bytes[0] != shape.code) {
                        reply.fault = ReplyFault::Unexpected;
                        return reply;
                    } else if (shape.sizeBytes == 0) {
                        reply.fault = ReplyFault::None;
                        return reply;
                    } else {
                        need = 1 + shape.sizeBytes;
                    }
                }
                if (bytes[0] == errorByte && bytes.size() == 2) {
                    reply.fault = ReplyFault::ErrorReply;
                    reply.code = bytes[1];
                    return reply;
                }
                if (bytes[0] == shape.code && !sized && bytes.size() == 1u + shape.sizeBytes) {
                    sized = true;
                    reply.size = BigEndian(bytes.data() + 1, shape.sizeBytes);
                    if (reply.size > shape.maxData || (shape.exact && reply.size != shape.maxData)) {
                        reply.fault = ReplyFault::BadSize;
                        return reply;
                    }
                    need = 1 + shape.sizeBytes + reply.size + 1;
                    bytes.reserve(need);
                }
                if (sized && bytes.size() == need) {
                    if (proto::FrameChecksum(bytes.data(), need) != 0) {
                        reply.fault = ReplyFault::BadChecksum;
                        return reply;
                    }
                    reply.fault = ReplyFault::None;
                    reply.data.assign(bytes.begin() + 1 + shape.sizeBytes, bytes.end() - 1);
                    return reply;
                }
                continue;  // more may be waiting already
            }
        }
        if (form.WaitTicks == 0) {
            reply.fault = bytes.empty() ? ReplyFault::NoReply : ReplyFault::CutShort;
            reply.received = static_cast<uint32_t>(bytes.size());
            reply.expected = static_cast<uint32_t>(need);
            return reply;
        }
        form.ProcessMessages();
    }
}

const char* CodeName(uint8_t code) {
    switch (code) {
    case proto::kErrChecksum: return "checksum error";
    case proto::kErrAddress: return "address not in the area";
    case proto::kErrReadSize: return "size past the end of the area";
    case proto::kErrNotErased: return "not erased";
    case proto::kErrCommand: return "command not accepted";
    default: return nullptr;
    }
}

}  // namespace

AreaReply InquireUserArea(FormCore& form, std::vector<FlashArea>& areas) {
    AreaReply reply = Exchange(form, {proto::kUserAreaInquiry}, {proto::kUserAreaReply, 1, 255, false}, kInquiryTicks);
    if (!reply.Ok()) return reply;
    // The data: the number of areas, then first and last address of each.
    const std::vector<uint8_t>& d = reply.data;
    if (d.empty() || d.size() != 1u + 8u * d[0] || d[0] == 0) {
        reply.fault = ReplyFault::BadSize;
        return reply;
    }
    areas.clear();
    for (size_t i = 0; i < d[0]; ++i) {
        const FlashArea area{BigEndian(&d[1 + 8 * i], 4), BigEndian(&d[5 + 8 * i], 4)};
        if (area.last < area.first) {
            reply.fault = ReplyFault::BadSize;
            return reply;
        }
        areas.push_back(area);
    }
    return reply;
}

AreaReply SumUserArea(FormCore& form, uint32_t& sum) {
    AreaReply reply = Exchange(form, {proto::kUserSumCheck}, {proto::kUserSumReply, 1, 4, true}, kWholeAreaTicks);
    if (reply.Ok()) sum = BigEndian(reply.data.data(), 4);
    return reply;
}

AreaReply BlankCheckUserArea(FormCore& form) {
    return Exchange(form, {proto::kUserBlankCheck}, {proto::kAck, 0, 0, false}, kWholeAreaTicks);
}

AreaReply ReadUserArea(FormCore& form, uint32_t address, uint32_t size, uint32_t bitRate) {
    std::vector<uint8_t> command = {proto::kMemoryRead, 9, proto::kAreaUser};
    PutBigEndian(command, address);
    PutBigEndian(command, size);
    command.push_back(proto::FrameChecksum(command.data(), command.size()));
    return Exchange(form, command, {proto::kMemoryReadReply, 4, size, true}, MemoryReadTicks(size, bitRate));
}

int32_t MemoryReadTicks(uint32_t size, uint32_t bitRate) {
    // Reply bytes: code, 4 size bytes, the data, checksum; 10 bits each.
    const uint64_t rate = bitRate == 0 || bitRate > proto::kWriteBitRate ? proto::kWriteBitRate : bitRate;
    const uint64_t bits = (uint64_t{size} + 6) * 10;
    const uint64_t wireTicks = (bits * 10 + rate - 1) / rate;
    return static_cast<int32_t>(10 + 2 * wireTicks);
}

std::string Describe(const AreaReply& reply) {
    char text[96];
    switch (reply.fault) {
    case ReplyFault::None: return "";
    case ReplyFault::NoReply: return "no reply";
    case ReplyFault::CutShort:
        std::snprintf(text, sizeof text, "reply cut short (%u of %u bytes)", reply.received, reply.expected);
        return text;
    case ReplyFault::Unexpected: std::snprintf(text, sizeof text, "unexpected reply 0x%02X", reply.first); return text;
    case ReplyFault::ErrorReply:
        if (const char* name = CodeName(reply.code))
            std::snprintf(text, sizeof text, "error reply 0x%02X 0x%02X (%s)", reply.first, reply.code, name);
        else
            std::snprintf(text, sizeof text, "error reply 0x%02X 0x%02X", reply.first, reply.code);
        return text;
    case ReplyFault::BadChecksum: return "checksum error in the reply";
    case ReplyFault::BadSize:
        std::snprintf(text, sizeof text, "reply of wrong size (size field %u)", reply.size);
        return text;
    }
    return "";
}
