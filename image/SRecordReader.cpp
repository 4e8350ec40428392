#include "image/SRecordReader.h"

#include "image/RecordLines.h"

namespace imagereader {

Step SRecordLines::Line(const char* p, size_t n, uint32_t line) {
    while (n > 0 && IsTrailingBlank(p[n - 1])) --n;
    if (n == 0) return Step::More;  // empty line

    // 1. Mark and type. A header carries nothing the image needs, so its
    //    line is skipped unread; an end record may stand without the rest.
    if (n < 2 || p[0] != 'S') return fill_.Refuse(ReadOutcome::FormatError, line);
    const char type = p[1];
    if (type == '0') return Step::More;
    const char* endText = type == '9'   ? "S1 file format"
                          : type == '8' ? "S2 file format"
                          : type == '7' ? "S3 file format"
                                        : nullptr;
    if (n == 2 && endText) return fill_.End(endText);
    unsigned width;
    switch (type) {
    case '1':
    case '5':
    case '9': width = 2; break;
    case '2':
    case '6':
    case '8': width = 3; break;
    case '3':
    case '7': width = 4; break;
    default: return fill_.Refuse(ReadOutcome::FormatError, line);
    }

    // 2. Count: address, data and checksum bytes; the line must hold
    //    exactly that many digit pairs.
    const int count = n < 4 ? -1 : HexPair(p + 2);
    if (count < 0 || static_cast<unsigned>(count) < width + 1 || n != 4 + 2 * static_cast<size_t>(count))
        return fill_.Refuse(ReadOutcome::FormatError, line);

    // 3. The bytes, and the checksum over count, address and data: the
    //    ones' complement of their sum, so all of them sum to 0xFF.
    uint8_t bytes[255];
    unsigned sum = static_cast<unsigned>(count);
    if (!HexBytes(p + 4, static_cast<size_t>(count), bytes, sum)) return fill_.Refuse(ReadOutcome::FormatError, line);
    if ((sum & 0xFF) != 0xFF) return fill_.Refuse(ReadOutcome::ChecksumError, line);

    // 4. What the record does.
    uint32_t address = 0;
    for (unsigned i = 0; i < width; ++i) address = address << 8 | bytes[i];
    if (endText) return fill_.End(endText);
    if (type == '5' || type == '6') {
        // A count record: the data records so far must all be there.
        if (address != dataRecords_) return fill_.Refuse(ReadOutcome::CountError, line);
        return Step::More;
    }
    const Step step = fill_.Place(address, bytes + width, static_cast<uint32_t>(count) - width - 1, line);
    if (step != Step::More) return step;
    lastDataType_ = type;
    ++dataRecords_;
    return Step::More;
}

void SRecordLines::EndOfFile(uint32_t line) {
    switch (lastDataType_) {
    case '1': fill_.End("S1 file format"); break;
    case '2': fill_.End("S2 file format"); break;
    case '3': fill_.End("S3 file format"); break;
    default: fill_.Refuse(ReadOutcome::FormatError, line); break;  // no record at all
    }
}

}  // namespace imagereader

ReadResult ReadSRecordFile(const std::string& path, FlashImage& image, const std::function<void()>& perRecord,
                           size_t chunkBytes) {
    ImageReadOptions options;
    options.format = ImageFormat::SRecord;
    options.perRecord = perRecord;
    options.chunkBytes = chunkBytes;
    return ReadImageFile(path, image, options);
}
