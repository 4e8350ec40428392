#include "image/ImageReader.h"

#include "image/RecordLines.h"
#include "image/SRecordReader.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace imagereader {

namespace {

// Digit values by character; -1 marks a character that is not a hex digit.
struct HexTable {
    int8_t value[256];
    constexpr HexTable() : value() {
        for (int c = 0; c < 256; ++c) value[c] = -1;
        for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<int8_t>(c - '0');
        for (int c = 'A'; c <= 'F'; ++c) value[c] = static_cast<int8_t>(c - 'A' + 10);
        for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<int8_t>(c - 'a' + 10);
    }
};
constexpr HexTable kHex;

}  // namespace

int HexPair(const char* p) {
    const int hi = kHex.value[static_cast<unsigned char>(p[0])];
    const int lo = kHex.value[static_cast<unsigned char>(p[1])];
    if ((hi | lo) < 0) return -1;
    return hi << 4 | lo;
}

bool HexBytes(const char* p, size_t count, uint8_t* bytes, unsigned& sum) {
    for (size_t i = 0; i < count; ++i) {
        const int b = HexPair(p + 2 * i);
        if (b < 0) return false;
        bytes[i] = static_cast<uint8_t>(b);
        sum += static_cast<unsigned>(b);
    }
    return true;
}

Step ImageFill::Place(uint64_t address, const uint8_t* data, size_t length, uint32_t line) {
    if (address < next_) return Refuse(ReadOutcome::AddressError, line);
    if (address + length > kMaxImageLength) return Refuse(ReadOutcome::SizeError, line);
    uint8_t* flash = image_.Bytes();
    const uint32_t at = static_cast<uint32_t>(address);
    std::memset(flash + next_, 0xFF, at - next_);
    if (length > 0) std::memcpy(flash + at, data, length);
    next_ = at + static_cast<uint32_t>(length);
    result.dataBytes += static_cast<uint32_t>(length);
    if (perRecord_) perRecord_();
    return Step::More;
}

Step ImageFill::End(const char* endText) {
    image_.ImageLength = next_;
    image_.StoreTrailer();
    result.outcome = ReadOutcome::Accepted;
    result.endText = endText;
    decided_ = true;
    return Step::End;
}

Step ImageFill::Refuse(ReadOutcome outcome, uint32_t line) {
    const char* what = outcome == ReadOutcome::ChecksumError  ? "checksum"
                       : outcome == ReadOutcome::AddressError ? "address"
                       : outcome == ReadOutcome::SizeError    ? "size"
                       : outcome == ReadOutcome::CountError   ? "count"
                                                              : "format";
    result.outcome = outcome;
    result.line = line;
    result.message = std::string("file ") + what + " err";
    if (line != 0) result.message += " line " + std::to_string(line);
    decided_ = true;
    return Step::Refused;
}

namespace {

// The longest line kept whole when it spans two pieces of input. A record
// line is at most 11 + 2 * 255 characters; anything longer is refused anyway,
// so only trailing blanks need to be recognised beyond this.
constexpr size_t kLineCapacity = 1024;

// Takes the input piece by piece, whatever the pieces' size, and hands the
// text formats one line at a time to their parser (in place when the line
// lies within one piece), the binary format its bytes as they come.
class Reader {
public:
    Reader(FlashImage& image, const ImageReadOptions& options)
        : fill_(image, options.perRecord),
          srecords_(fill_),
          hex_(fill_),
          format_(options.format),
          binaryAt_(options.binaryAddress) {}

    // False once the outcome is decided: the rest need not be read.
    bool Feed(const char* p, size_t n) {
        if (format_ != ImageFormat::Binary) return FeedText(p, n);
        if (fill_.Place(binaryAt_, reinterpret_cast<const uint8_t*>(p), n, 0) != Step::More) return false;
        binaryAt_ += n;
        return true;
    }

    // The input has ended.
    ReadResult Finish() {
        if (fill_.Decided()) return fill_.result;
        if (format_ == ImageFormat::Binary) {
            if (fill_.Place(binaryAt_, nullptr, 0, 0) == Step::More) fill_.End("BIN file format");
            return fill_.result;
        }
        // The last line may lack its line end.
        if (carrying_ && Line(carry_, carried_) != Step::More) return fill_.result;
        if (format_ == ImageFormat::IntelHex)
            hex_.EndOfFile(line_);
        else
            srecords_.EndOfFile(line_);  // also a file of blanks only
        return fill_.result;
    }

private:
    bool FeedText(const char* p, size_t n) {
        const char* const end = p + n;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            const char* segmentEnd = nl ? nl : end;
            Step step = Step::More;
            if (!carrying_ && nl) {
                // 1. The whole line lies in this piece: parse it in place,
                //    held to the length a line that spans pieces may have, so
                //    that a long line (a header, which is skipped whatever it
                //    holds) reads the same wherever the pieces break.
                if (TooLong(p, nl)) {
                    fill_.Refuse(ReadOutcome::FormatError, line_);
                    return false;
                }
                step = Line(p, static_cast<size_t>(nl - p));
            } else {
                // 2. Keep what fits; past the capacity only blanks may follow.
                //    Anything else refuses the line at once, without reading
                //    on to a line end that may never come.
                for (const char* c = p; c < segmentEnd; ++c) {
                    if (carried_ < kLineCapacity) {
                        carry_[carried_++] = *c;
                    } else if (!IsTrailingBlank(*c)) {
                        fill_.Refuse(ReadOutcome::FormatError, line_);
                        return false;
                    }
                }
                carrying_ = true;
                if (nl) {
                    step = Line(carry_, carried_);
                    carrying_ = false;
                    carried_ = 0;
                }
            }
            if (step != Step::More) return false;
            if (nl) ++line_;
            p = nl ? nl + 1 : end;
        }
        return true;
    }

    // True when something other than a blank lies past the capacity.
    static bool TooLong(const char* p, const char* end) {
        return end - p > static_cast<ptrdiff_t>(kLineCapacity) &&
               std::find_if(p + kLineCapacity, end, [](char ch) { return !IsTrailingBlank(ch); }) != end;
    }

    Step Line(const char* p, size_t n) {
        if (format_ == ImageFormat::Detect) {
            // The first character that is not a blank chooses the format.
            const char* c = std::find_if(p, p + n, [](char ch) { return !IsTrailingBlank(ch); });
            if (c == p + n) return Step::More;
            format_ = *c == ':' ? ImageFormat::IntelHex : ImageFormat::SRecord;
        }
        return format_ == ImageFormat::IntelHex ? hex_.Line(p, n, line_) : srecords_.Line(p, n, line_);
    }

    ImageFill fill_;
    SRecordLines srecords_;
    IntelHexLines hex_;
    ImageFormat format_;
    uint64_t binaryAt_;
    char carry_[kLineCapacity];  // the start of a line that spans two pieces
    size_t carried_ = 0;
    bool carrying_ = false;
    uint32_t line_ = 1;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Opens `path` for binary reads. The open itself does not wait: a FIFO that
// no one writes to reads as an empty file instead of holding the caller in
// open() until a writer comes. Reads block as usual afterwards.
std::FILE* OpenForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    const int flags = ::fcntl(fd, F_GETFL);
    std::FILE* file = flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 ? nullptr : ::fdopen(fd, "rb");
    if (!file) ::close(fd);
    return file;
}

}  // namespace

}  // namespace imagereader

int HexDigitValue(unsigned char c) { return imagereader::kHex.value[c]; }

bool ParseImageFormat(const std::string& word, ImageFormat* format) {
    if (word == "srec")
        *format = ImageFormat::SRecord;
    else if (word == "hex")
        *format = ImageFormat::IntelHex;
    else if (word == "bin")
        *format = ImageFormat::Binary;
    else
        return false;
    return true;
}

ReadResult ReadImageFile(const std::string& path, FlashImage& image, const ImageReadOptions& options) {
    // Binary mode: line ends are the reader's to handle, CR LF included.
    std::unique_ptr<std::FILE, imagereader::FileCloser> file(imagereader::OpenForReading(path));
    if (!file) return ReadResult{};
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // the chunks are the buffer

    const size_t chunkBytes = std::max<size_t>(options.chunkBytes, 1);
    std::unique_ptr<char[]> chunk(new char[chunkBytes]);
    auto reader = std::make_unique<imagereader::Reader>(image, options);
    for (;;) {
        const size_t got = std::fread(chunk.get(), 1, chunkBytes, file.get());
        if (got == 0) {
            if (std::ferror(file.get())) return ReadResult{};
            break;
        }
        if (!reader->Feed(chunk.get(), got)) break;
    }
    return reader->Finish();
}

ReadResult ReadImageMemory(const void* data, size_t size, FlashImage& image, const ImageReadOptions& options) {
    const size_t pieceBytes = std::max<size_t>(options.chunkBytes, 1);
    const char* p = static_cast<const char*>(data);
    auto reader = std::make_unique<imagereader::Reader>(image, options);
    for (size_t done = 0; done < size;) {
        const size_t n = std::min(pieceBytes, size - done);
        if (!reader->Feed(p + done, n)) break;
        done += n;
    }
    return reader->Finish();
}
