// The Intel HEX records (image/ImageReader.h describes what is accepted).
#include "image/RecordLines.h"

namespace imagereader {

namespace {

constexpr uint8_t kData = 0x00;
constexpr uint8_t kEndOfFile = 0x01;
constexpr uint8_t kSegmentAddress = 0x02;
constexpr uint8_t kSegmentStart = 0x03;
constexpr uint8_t kLinearAddress = 0x04;
constexpr uint8_t kLinearStart = 0x05;

}  // namespace

Step IntelHexLines::Line(const char* p, size_t n, uint32_t line) {
    while (n > 0 && IsTrailingBlank(p[n - 1])) --n;
    if (n == 0) return Step::More;  // empty line

    // 1. ':', then count, offset, type, data and checksum as digit pairs;
    //    the line holds exactly as many data pairs as the count says.
    if (n < 11 || p[0] != ':') return fill_.Refuse(ReadOutcome::FormatError, line);
    const int count = HexPair(p + 1);
    if (count < 0 || n != 11 + 2 * static_cast<size_t>(count)) return fill_.Refuse(ReadOutcome::FormatError, line);

    // 2. All bytes, the checksum included, sum to 0 modulo 256.
    uint8_t bytes[255 + 5];
    const size_t total = static_cast<size_t>(count) + 5;
    unsigned sum = 0;
    if (!HexBytes(p + 1, total, bytes, sum)) return fill_.Refuse(ReadOutcome::FormatError, line);
    if ((sum & 0xFF) != 0) return fill_.Refuse(ReadOutcome::ChecksumError, line);

    // 3. What the record does.
    const uint32_t offset = static_cast<uint32_t>(bytes[1]) << 8 | bytes[2];
    const uint8_t type = bytes[3];
    const uint8_t* data = bytes + 4;
    const uint32_t word = count >= 2 ? (static_cast<uint32_t>(data[0]) << 8 | data[1]) : 0;
    switch (type) {
    case kData: {
        // Under a segment base the offset wraps within its 64 KiB: a record
        // running past the segment's end would continue below its start.
        if (segmented_ && offset + static_cast<uint32_t>(count) > 0x10000)
            return fill_.Refuse(ReadOutcome::AddressError, line);
        const Step step = fill_.Place(static_cast<uint64_t>(base_) + offset, data, static_cast<size_t>(count), line);
        if (step == Step::More) sawData_ = true;
        return step;
    }
    case kEndOfFile:
        if (count != 0) break;
        return fill_.End("HEX file format");
    case kSegmentAddress:
        if (count != 2) break;
        base_ = word << 4;
        segmented_ = true;
        return Step::More;
    case kLinearAddress:
        if (count != 2) break;
        base_ = word << 16;
        segmented_ = false;
        return Step::More;
    case kSegmentStart:
    case kLinearStart:
        if (count != 4) break;
        return Step::More;  // where execution starts: the chip does not need it
    default: break;
    }
    return fill_.Refuse(ReadOutcome::FormatError, line);
}

void IntelHexLines::EndOfFile(uint32_t line) {
    if (sawData_)
        fill_.End("HEX file format");
    else
        fill_.Refuse(ReadOutcome::FormatError, line);
}

}  // namespace imagereader
