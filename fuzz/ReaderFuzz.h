// The check behind the image readers' fuzz targets (srecord_fuzz, hex_fuzz):
// one input, read as one format in several ways that must give the same
// result.
//
// Every input is read from memory twice (image/ImageReader.h,
// ReadImageMemory), once in the reader's usual large chunks and once in
// chunks of 1 to 7 bytes, so that every line crosses chunk boundaries and
// goes through the carry path. Inputs whose length is a multiple of four are
// also read through the file path (ReadImageFile on a memfd reached through
// /proc/self/fd/N) in chunks of 1 to 61 bytes, with the format detected from
// the content when detection picks the target's format, so that the file's
// read loop and the detection are fuzzed as well. The images start out
// filled with different bytes, so any byte of the result that the reader did
// not write shows up as a disagreement. Checked:
// - all reads agree in outcome, line, end text, message, the number of
//   per-record calls, the image length and every byte up to the end of the
//   trailer;
// - a memory read is never CannotOpen;
// - a refusal carries a message naming its line and no end text, an
//   acceptance the format's end text and no message;
// - an accepted image never exceeds kMaxImageLength and carries its trailer.
#pragma once

#include "image/FlashImage.h"
#include "image/ImageReader.h"
#include "support/Trailer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace reader_fuzz {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "reader fuzz: %s\n", what);
    std::abort();
}

inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// The input as a file: a memfd, rewritten for every input.
struct MemFile {
    int fd = -1;
    std::string path;

    MemFile() {
        fd = memfd_create("reader_fuzz", MFD_CLOEXEC);
        if (fd < 0) Fail("memfd_create failed");
        path = "/proc/self/fd/" + std::to_string(fd);
    }

    void Store(const uint8_t* data, size_t size) {
        if (ftruncate(fd, 0) != 0) Fail("ftruncate failed");
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) Fail("pwrite failed");
            done += static_cast<size_t>(n);
        }
    }
};

struct Read {
    ReadResult result;
    long records = 0;
};

inline void Prepare(FlashImage& image, uint8_t fill, ImageReadOptions& options, size_t chunk, ImageFormat format,
                    Read& r) {
    std::memset(image.Bytes(), fill, kFlashImageSize);
    image.ImageLength = 0;
    options.format = format;
    options.chunkBytes = chunk;
    options.perRecord = [&r] { ++r.records; };
}

inline Read FromMemory(const uint8_t* data, size_t size, FlashImage& image, uint8_t fill, size_t chunk,
                       ImageFormat format) {
    Read r;
    ImageReadOptions options;
    Prepare(image, fill, options, chunk, format, r);
    r.result = ReadImageMemory(data, size, image, options);
    return r;
}

inline Read FromFile(const std::string& path, FlashImage& image, uint8_t fill, size_t chunk, ImageFormat format) {
    Read r;
    ImageReadOptions options;
    Prepare(image, fill, options, chunk, format, r);
    r.result = ReadImageFile(path, image, options);
    return r;
}

inline bool HasTrailer(const FlashImage& image) {
    static const std::vector<uint8_t> trailer = ExpectedTrailer();
    return std::memcmp(image.Bytes() + image.ImageLength, trailer.data(), trailer.size()) == 0;
}

// The format ImageFormat::Detect picks for this content.
inline ImageFormat Detected(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        return c == ':' ? ImageFormat::IntelHex : ImageFormat::SRecord;
    }
    return ImageFormat::SRecord;
}

inline void Agree(const Read& a, const FlashImage& ia, const Read& b, const FlashImage& ib) {
    Check(a.result.outcome == b.result.outcome, "outcome differs between reads");
    Check(a.result.line == b.result.line, "line differs between reads");
    Check(a.result.endText == b.result.endText, "end text differs between reads");
    Check(a.result.message == b.result.message, "message differs between reads");
    Check(a.records == b.records, "number of records placed differs between reads");
    if (!a.result.Accepted()) return;
    Check(ia.ImageLength == ib.ImageLength, "image length differs between reads");
    Check(std::memcmp(ia.Bytes(), ib.Bytes(), ia.ImageLength + kTrailerSize) == 0,
          "image bytes differ between reads (or were not all written)");
}

// Reads the input as `format`; `endTexts` are the texts an acceptance may
// carry.
inline int FuzzOneInput(const uint8_t* data, size_t size, ImageFormat format,
                        const std::vector<std::string>& endTexts) {
    static MemFile file;
    static FlashImage large, small, fromFile;

    // 1 to 7 bytes per piece, varied with the input so that lines of every
    // length meet chunk boundaries at every offset.
    const size_t tinyChunk = 1 + size % 7;
    const Read a = FromMemory(data, size, large, 0x00, kReadChunkBytes, format);
    const Read b = FromMemory(data, size, small, 0xA5, tinyChunk, format);
    Check(a.result.outcome != ReadOutcome::CannotOpen, "a memory read that could not open");
    Agree(a, large, b, small);

    if (size % 4 == 0) {
        file.Store(data, size);
        const ImageFormat asked = Detected(data, size) == format ? ImageFormat::Detect : format;
        const Read c = FromFile(file.path, fromFile, 0x5A, 1 + size / 4 % 61, asked);
        Check(c.result.outcome != ReadOutcome::CannotOpen, "the input file could not be read");
        Agree(a, large, c, fromFile);
    }

    if (!a.result.Accepted()) {
        Check(a.result.line >= 1, "a refusal without a line");
        Check(a.result.endText.empty(), "a refusal with an end text");
        const std::string tail = " err line " + std::to_string(a.result.line);
        const std::string& m = a.result.message;
        Check(m.size() > tail.size() && m.compare(0, 5, "file ") == 0 &&
                  m.compare(m.size() - tail.size(), tail.size(), tail) == 0,
              "a refusal's message does not name its line");
        return 0;
    }

    Check(a.result.message.empty(), "an acceptance with a message");
    bool known = false;
    for (const std::string& t : endTexts) known |= a.result.endText == t;
    Check(known, "an acceptance without the format's end text");
    Check(large.ImageLength <= kMaxImageLength, "an accepted image exceeds the size limit");
    Check(HasTrailer(large), "an accepted image without its trailer");
    return 0;
}

}  // namespace reader_fuzz
