#include "bootmode/FlashVerify.h"

#include "core/FormCore.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint32_t kProgressMaximum = 65535;  // as the programming's bar

std::string Hex32(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

std::string Hex8(uint8_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

VerifyResult Failed(VerifyResult result, const std::string& what, const AreaReply& reply) {
    result.passed = false;
    result.message = "verify failed: " + what + ": " + Describe(reply);
    return result;
}

// A stop asked for between two commands: the verify ends unfinished, with
// nothing more sent and nothing shown (the write reports the stop).
VerifyResult Stopped(VerifyResult result, const std::string& where) {
    result.passed = false;
    result.stopped = true;
    result.message = "verify stopped " + where;
    return result;
}

VerifyResult Shown(FormCore& form, VerifyResult result) {
    form.ShowStatus(result.message);
    return result;
}

}  // namespace

uint32_t ExpectedSum(const uint8_t* expected, uint32_t end, const std::vector<FlashArea>& areas) {
    uint32_t sum = 0;
    for (const FlashArea& area : areas) {
        const uint64_t count = uint64_t{area.last} - area.first + 1;
        // The programmed bytes inside the area, then 0xFF for the rest.
        uint64_t programmed = 0;
        for (uint32_t a = area.first; a < end && a <= area.last; ++a, ++programmed) sum += expected[a];
        sum += static_cast<uint32_t>((count - programmed) * 0xFF);
    }
    return sum;
}

VerifyResult VerifyByReading(FormCore& form, const uint8_t* expected, uint32_t end, uint32_t bitRate) {
    VerifyResult result;
    result.mode = VerifyMode::Read;
    const uint32_t maximum = end == 0 ? 1 : std::min(end, kProgressMaximum);
    form.ShowStatus("verifying by read-back");
    form.SetProgressPosition(0);
    form.SetProgressMaximum(static_cast<int>(maximum));

    for (uint32_t address = 0; address < end; address += kVerifyChunk) {
        if (form.StopRequested) return Stopped(result, "before " + Hex32(address));
        const uint32_t size = std::min(kVerifyChunk, end - address);
        const AreaReply reply = ReadUserArea(form, address, size, bitRate);
        if (!reply.Ok()) return Shown(form, Failed(result, "memory read at " + Hex32(address), reply));
        const auto diff = std::mismatch(reply.data.begin(), reply.data.end(), expected + address);
        if (diff.first != reply.data.end()) {
            const uint32_t at = address + static_cast<uint32_t>(diff.first - reply.data.begin());
            result.bytesCompared += at - address;
            result.mismatch = true;
            result.address = at;
            result.expectedByte = *diff.second;
            result.actualByte = *diff.first;
            result.message = "verify failed at " + Hex32(at) + ": expected " + Hex8(result.expectedByte) + ", read " +
                             Hex8(result.actualByte);
            return Shown(form, result);
        }
        result.bytesCompared += size;
        form.SetProgressPosition(static_cast<int>(uint64_t{address + size} * maximum / end));
    }
    form.SetProgressPosition(static_cast<int>(maximum));
    result.passed = true;
    result.message = "verify OK, " + std::to_string(result.bytesCompared) + " bytes compared";
    return Shown(form, result);
}

VerifyResult VerifyBySum(FormCore& form, const uint8_t* expected, uint32_t end) {
    VerifyResult result;
    result.mode = VerifyMode::Sum;
    form.ShowStatus("verifying by sum check");

    std::vector<FlashArea> areas;
    if (form.StopRequested) return Stopped(result, "before the user area inquiry");
    AreaReply reply = InquireUserArea(form, areas);
    if (!reply.Ok()) return Shown(form, Failed(result, "user area inquiry", reply));
    // Every programmed byte must lie in an area, or the sum does not cover it.
    uint64_t covered = 0, total = 0;
    for (const FlashArea& area : areas) {
        total += uint64_t{area.last} - area.first + 1;
        if (area.first < end) covered += std::min<uint64_t>(area.last, end - 1) - area.first + 1;
    }
    if (covered < end) {
        result.message = "verify failed: the image reaches past the user area (" + Hex32(end) + " bytes)";
        return Shown(form, result);
    }
    result.expectedSum = ExpectedSum(expected, end, areas);
    result.bytesCompared = total;

    uint32_t sum = 0;
    if (form.StopRequested) return Stopped(result, "before the user area sum");
    reply = SumUserArea(form, sum);
    if (!reply.Ok()) return Shown(form, Failed(result, "user area sum", reply));
    result.actualSum = sum;
    if (sum != result.expectedSum) {
        result.mismatch = true;
        result.message = "verify failed: user area sum " + Hex32(sum) + ", expected " + Hex32(result.expectedSum);
        return Shown(form, result);
    }
    result.passed = true;
    result.message = "verify OK, sum " + Hex32(sum) + " over " + std::to_string(total) + " bytes";
    return Shown(form, result);
}

VerifyResult VerifyFlash(FormCore& form, const uint8_t* expected, uint32_t end, VerifyMode mode, uint32_t bitRate) {
    switch (mode) {
    case VerifyMode::Read: return VerifyByReading(form, expected, end, bitRate);
    case VerifyMode::Sum: return VerifyBySum(form, expected, end);
    case VerifyMode::None: break;
    }
    VerifyResult none;
    none.passed = true;
    return none;
}

WriteOutcome VerifyAfterWrite(FormCore& form, const WriteOutcome& written, const uint8_t* expected, uint32_t end,
                              VerifyMode mode) {
    if (!written.Done() || mode == VerifyMode::None) return written;
    return WriteOutcome::Verified(written, VerifyFlash(form, expected, end, mode, form.LinkRate));
}

BlankCheckResult CheckUserAreaBlank(FormCore& form) {
    BlankCheckResult result;
    const AreaReply reply = BlankCheckUserArea(form);
    if (reply.Ok()) {
        result.passed = true;
        result.message = "blank check OK, the flash is erased";
    } else if (reply.fault == ReplyFault::ErrorReply && reply.code == proto::kErrNotErased) {
        result.message = "blank check failed: the flash is not erased";
    } else {
        result.message = "blank check failed: " + Describe(reply);
    }
    form.ShowStatus(result.message);
    return result;
}

WriteOutcome CheckErased(FormCore& form) {
    BlankCheckResult blank = CheckUserAreaBlank(form);
    if (blank.passed) return WriteOutcome::Of(WriteResult::Done, std::move(blank.message));
    return WriteOutcome::TargetFailed(WriteStage::BlankCheck, std::move(blank.message));
}
