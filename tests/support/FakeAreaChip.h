// A chip in the programming/erasing state for the recording fake driver: it
// programs 0x50 blocks into a flash array of its own and answers the
// user-area inquiry, sum, blank check and memory read from it, and each reply can be replaced by a test. Replies
// arrive at once (or in pieces, one per pump pass, with `pieceSize`).
#pragma once

#include "protocol/Protocol.h"
#include "support/FakeLink.h"
#include "support/TestForm.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

struct FakeAreaChip {
    FakeLinkScope scope;
    FakeDevice* device = nullptr;
    TestForm& form;
    std::vector<uint8_t> flash;
    uint32_t areaFirst = 0;
    // Called with each command; a reply it returns replaces the chip's own.
    std::function<std::optional<std::vector<uint8_t>>(const std::vector<uint8_t>&)> override;
    size_t pieceSize = 0;  // 0: the whole reply at once

    FakeAreaChip(TestForm& f, size_t size) : form(f), flash(size, 0xFF) {
        scope.provider->entries = {{"FAKE0001", "fake"}};
        OpenBySerialNumber("FAKE0001", OPEN_BY_SERIAL_NUMBER, &DeviceHandle);
        device = scope.provider->Device();
        device->onWrite = [this](const std::vector<uint8_t>& command) { Answer(command); };
        scope.provider->log.calls.clear();
    }

    // A framed reply: code, size (`sizeBytes` wide), data, checksum.
    static std::vector<uint8_t> Framed(uint8_t code, unsigned sizeBytes, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> r = {code};
        for (int shift = 8 * (static_cast<int>(sizeBytes) - 1); shift >= 0; shift -= 8)
            r.push_back(static_cast<uint8_t>(data.size() >> shift));
        r.insert(r.end(), data.begin(), data.end());
        r.push_back(proto::FrameChecksum(r.data(), r.size()));
        return r;
    }
    static void Put32(std::vector<uint8_t>& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
    }
    // The four bytes of a command from `at` on, most significant first.
    static uint32_t Get32(const std::vector<uint8_t>& c, size_t at) {
        return uint32_t{c[at]} << 24 | uint32_t{c[at + 1]} << 16 | uint32_t{c[at + 2]} << 8 | c[at + 3];
    }

    std::vector<uint8_t> OwnReply(const std::vector<uint8_t>& c) {
        switch (c[0]) {
        case proto::kUserAreaInquiry: {
            std::vector<uint8_t> d = {1};
            Put32(d, areaFirst);
            Put32(d, static_cast<uint32_t>(flash.size() - 1));
            return Framed(proto::kUserAreaReply, 1, d);
        }
        case proto::kUserSumCheck: {
            uint32_t sum = 0;
            for (size_t a = areaFirst; a < flash.size(); ++a) sum += flash[a];
            std::vector<uint8_t> d;
            Put32(d, sum);
            return Framed(proto::kUserSumReply, 1, d);
        }
        case proto::kUserBlankCheck:
            for (uint8_t b : flash)
                if (b != 0xFF) return {0xCD, proto::kErrNotErased};
            return {proto::kAck};
        case proto::kMemoryRead: {
            if (c.size() != 12 || proto::FrameChecksum(c.data(), 11) != c[11]) return {0xD2, proto::kErrChecksum};
            const uint32_t at = Get32(c, 3);
            const uint32_t n = Get32(c, 7);
            if (at >= flash.size()) return {0xD2, proto::kErrAddress};
            if (uint64_t{at} + n > flash.size()) return {0xD2, proto::kErrReadSize};
            return Framed(proto::kMemoryReadReply, 4, {flash.begin() + at, flash.begin() + at + n});
        }
        case proto::kProgram: {
            if (c.size() == sizeof proto::kEndCommand) return {proto::kAck};
            const uint32_t at = Get32(c, 1);
            if (c.size() != proto::kBlockCommandSize || at + proto::kBlockSize > flash.size()) return {0xD0, 0x2A};
            std::copy(c.begin() + 5, c.begin() + 5 + proto::kBlockSize, flash.begin() + at);
            return {proto::kAck};
        }
        default: return {static_cast<uint8_t>(c[0] | 0x80), proto::kErrCommand};
        }
    }

    void Answer(const std::vector<uint8_t>& command) {
        const std::optional<std::vector<uint8_t>> replaced = override ? override(command) : std::nullopt;
        const std::vector<uint8_t> reply = replaced ? *replaced : OwnReply(command);
        if (pieceSize == 0) {
            device->rx.insert(device->rx.end(), reply.begin(), reply.end());
            return;
        }
        // One piece now, the next ones 10 ms apart.
        for (size_t at = 0, k = 0; at < reply.size(); at += pieceSize, ++k) {
            std::vector<uint8_t> piece(reply.begin() + at, reply.begin() + std::min(reply.size(), at + pieceSize));
            FakeDevice* d = device;
            form.At(form.clock.now + static_cast<int64_t>(k) * 10000,
                    [d, piece] { d->rx.insert(d->rx.end(), piece.begin(), piece.end()); });
        }
    }

    // The commands the host sent, in order.
    const std::vector<std::vector<uint8_t>>& Commands() const { return device->writes; }
};
