#include "image/SRecordReader.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

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

// The byte of two hex digits, or -1 if either is not a digit.
inline int HexPair(const char* p) {
    int hi = kHex.value[static_cast<unsigned char>(p[0])];
    int lo = kHex.value[static_cast<unsigned char>(p[1])];
    if ((hi | lo) < 0) return -1;
    return hi << 4 | lo;
}

inline bool IsTrailingBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The longest line kept whole when it spans two reads. A record line is at
// most 4 + 2 * 255 characters; anything longer is refused anyway, so only
// trailing blanks need to be recognised beyond this.
constexpr size_t kLineCapacity = 1024;

// Turns record lines into the image. Between records the write position and
// the address just past the last data record are the same thing, because
// everything below the first record is filled too.
class RecordParser {
public:
    enum class Step { More, End, Refused };

    RecordParser(FlashImage& image, const std::function<void()>& perRecord)
        : image_(image), perRecord_(perRecord) {}

    // One line without its LF.
    Step Line(const char* p, size_t n, uint32_t line) {
        while (n > 0 && IsTrailingBlank(p[n - 1])) --n;
        if (n == 0) return Step::More;  // empty line

        // 1. Mark, type and address width.
        if (n < 4 || p[0] != 'S') return Refuse(ReadOutcome::FormatError, line);
        const char type = p[1];
        unsigned width;
        switch (type) {
        case '0': case '1': case '5': case '9': width = 2; break;
        case '2': case '6': case '8': width = 3; break;
        case '3': case '7': width = 4; break;
        default: return Refuse(ReadOutcome::FormatError, line);
        }

        // 2. Count: address, data and checksum bytes; the line must hold
        //    exactly that many digit pairs.
        const int count = HexPair(p + 2);
        if (count < 0 || static_cast<unsigned>(count) < width + 1 ||
            n != 4 + 2 * static_cast<size_t>(count))
            return Refuse(ReadOutcome::FormatError, line);

        // 3. The bytes, and the checksum over count, address and data: the
        //    ones' complement of their sum, so all of them sum to 0xFF.
        uint8_t bytes[255];
        unsigned sum = static_cast<unsigned>(count);
        for (int i = 0; i < count; ++i) {
            const int b = HexPair(p + 4 + 2 * i);
            if (b < 0) return Refuse(ReadOutcome::FormatError, line);
            bytes[i] = static_cast<uint8_t>(b);
            sum += static_cast<unsigned>(b);
        }
        if ((sum & 0xFF) != 0xFF) return Refuse(ReadOutcome::ChecksumError, line);

        // 4. What the record does.
        switch (type) {
        case '0': case '5': case '6':
            return Step::More;  // header and record counts carry no image data
        case '9': return End("S1 file format");
        case '8': return End("S2 file format");
        case '7': return End("S3 file format");
        default: break;
        }
        uint32_t address = 0;
        for (unsigned i = 0; i < width; ++i) address = address << 8 | bytes[i];
        const uint32_t length = static_cast<uint32_t>(count) - width - 1;
        if (address < next_) return Refuse(ReadOutcome::AddressError, line);
        if (static_cast<uint64_t>(address) + length > kMaxImageLength)
            return Refuse(ReadOutcome::SizeError, line);
        uint8_t* flash = image_.Bytes();
        std::memset(flash + next_, 0xFF, address - next_);
        std::memcpy(flash + address, bytes + width, length);
        next_ = address + length;
        result.dataBytes += length;
        lastDataType_ = type;
        if (perRecord_) perRecord_();
        return Step::More;
    }

    // A line too long to be a record.
    Step Overlong(uint32_t line) { return Refuse(ReadOutcome::FormatError, line); }

    // The file ended at `line` without an end record.
    void EndOfFile(uint32_t line) {
        switch (lastDataType_) {
        case '1': End("S1 file format"); break;
        case '2': End("S2 file format"); break;
        case '3': End("S3 file format"); break;
        default: Refuse(ReadOutcome::FormatError, line); break;  // no record at all
        }
    }

    ReadResult result;

private:
    Step End(const char* text) {
        image_.ImageLength = next_;
        image_.StoreTrailer();
        result.outcome = ReadOutcome::Accepted;
        result.endText = text;
        return Step::End;
    }

    Step Refuse(ReadOutcome outcome, uint32_t line) {
        const char* what = outcome == ReadOutcome::ChecksumError ? "checksum"
                         : outcome == ReadOutcome::AddressError  ? "address"
                         : outcome == ReadOutcome::SizeError     ? "size"
                                                                 : "format";
        result.outcome = outcome;
        result.line = line;
        result.message = std::string("file ") + what + " err line " + std::to_string(line);
        return Step::Refused;
    }

    FlashImage& image_;
    const std::function<void()>& perRecord_;
    uint32_t next_ = 0;
    char lastDataType_ = 0;
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

ReadResult Unreadable() { return ReadResult{}; }

}  // namespace

int HexDigitValue(unsigned char c) { return kHex.value[c]; }

ReadResult ReadSRecordFile(const std::string& path, FlashImage& image,
                           const std::function<void()>& perRecord, size_t chunkBytes) {
    // Binary mode: line ends are ours to handle, CR LF included.
    std::unique_ptr<std::FILE, FileCloser> file(OpenForReading(path));
    if (!file) return Unreadable();
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // the chunks are the buffer

    if (chunkBytes == 0) chunkBytes = 1;
    std::unique_ptr<char[]> chunk(new char[chunkBytes]);
    char carry[kLineCapacity];  // the start of a line that spans two reads
    size_t carried = 0;
    bool carrying = false;
    uint32_t line = 1;
    RecordParser parser(image, perRecord);
    using Step = RecordParser::Step;

    for (;;) {
        const size_t got = std::fread(chunk.get(), 1, chunkBytes, file.get());
        if (got == 0) {
            if (std::ferror(file.get())) return Unreadable();
            break;
        }
        const char* p = chunk.get();
        const char* const end = p + got;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            const char* segmentEnd = nl ? nl : end;
            Step step = Step::More;
            if (!carrying && nl) {
                // 1. The whole line lies in this read: parse it in place.
                step = parser.Line(p, static_cast<size_t>(nl - p), line);
            } else {
                // 2. Keep what fits; past the capacity only blanks may follow.
                //    Anything else refuses the line at once, without reading
                //    on to a line end that may never come.
                for (const char* c = p; c < segmentEnd; ++c) {
                    if (carried < kLineCapacity)
                        carry[carried++] = *c;
                    else if (!IsTrailingBlank(*c)) {
                        parser.Overlong(line);
                        return parser.result;
                    }
                }
                carrying = true;
                if (nl) {
                    step = parser.Line(carry, carried, line);
                    carrying = false;
                    carried = 0;
                }
            }
            if (step != Step::More) return parser.result;
            if (nl) ++line;
            p = nl ? nl + 1 : end;
        }
    }

    // The last line may lack its line end.
    if (carrying) {
        if (parser.Line(carry, carried, line) != Step::More) return parser.result;
    }
    parser.EndOfFile(line);
    return parser.result;
}
