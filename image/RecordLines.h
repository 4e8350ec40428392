// Inside image/: the parts the readers share. ImageFill places data into the
// image and decides the outcome; SRecordLines and IntelHexLines turn one text
// line each into calls to it. The line splitting, the format choice and the
// file and memory sources live in ImageReader.cpp.
#pragma once

#include "image/ImageReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace imagereader {

enum class Step { More, End, Refused };

// The byte of two hex digits of either case, or -1 if either is not a digit.
int HexPair(const char* p);

// Reads `count` digit pairs from `p` into `bytes`, adding each byte to `sum`.
// False at the first pair that is not two hex digits.
bool HexBytes(const char* p, size_t count, uint8_t* bytes, unsigned& sum);

inline bool IsTrailingBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The image being filled. Between records the write position and the address
// just past the last data placed are the same thing, because everything below
// the first data is filled too.
class ImageFill {
public:
    ImageFill(FlashImage& image, const std::function<void()>& perRecord) : image_(image), perRecord_(perRecord) {}

    // Places `length` bytes at `address`, 0xFF filling the gap below it.
    // Refuses data below the end of the previous data (address) or past
    // kMaxImageLength (size), naming `line`.
    Step Place(uint64_t address, const uint8_t* data, size_t length, uint32_t line);

    // Accepts the file: sets ImageLength, stores the trailer.
    Step End(const char* endText);

    // Refuses the file at `line`; line 0 leaves the line out of the message.
    Step Refuse(ReadOutcome outcome, uint32_t line);

    uint32_t Next() const { return next_; }
    bool Decided() const { return decided_; }

    ReadResult result;

private:
    FlashImage& image_;
    const std::function<void()>& perRecord_;
    uint32_t next_ = 0;
    bool decided_ = false;
};

class SRecordLines {
public:
    explicit SRecordLines(ImageFill& fill) : fill_(fill) {}
    // One line without its LF.
    Step Line(const char* p, size_t n, uint32_t line);
    // The file ended at `line` without an end record.
    void EndOfFile(uint32_t line);

private:
    ImageFill& fill_;
    char lastDataType_ = 0;
    uint32_t dataRecords_ = 0;
};

class IntelHexLines {
public:
    explicit IntelHexLines(ImageFill& fill) : fill_(fill) {}
    Step Line(const char* p, size_t n, uint32_t line);
    void EndOfFile(uint32_t line);

private:
    ImageFill& fill_;
    uint32_t base_ = 0;       // from the last 02 or 04 record
    bool segmented_ = false;  // base_ came from an 02 record
    bool sawData_ = false;
};

}  // namespace imagereader
