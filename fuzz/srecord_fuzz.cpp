// Fuzz target for the S-record reader.
//
// Every input is read twice from the same file, once in the reader's usual
// large chunks and once in chunks of a few bytes (so every line crosses chunk
// boundaries and goes through the carry path). The two images start out
// filled with different bytes, so any byte of the result that the reader did
// not write shows up as a disagreement. Checked:
// - both reads agree in outcome, line, end text, message, the number of
//   per-record calls, the image length and every byte up to the end of the
//   trailer;
// - a refusal carries a message naming its line, an acceptance an end text;
// - an accepted image never exceeds kMaxImageLength and carries its trailer.
//
// The reader takes a path, so the input lives in a memfd reached through
// /proc/self/fd/N.
#include "image/FlashImage.h"
#include "image/SRecordReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "srecord_fuzz: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

struct Input {
    int fd = -1;
    std::string path;

    Input() {
        fd = memfd_create("srecord_fuzz", MFD_CLOEXEC);
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

Read ReadWith(const std::string& path, FlashImage& image, uint8_t fill, size_t chunk) {
    std::memset(image.Bytes(), fill, kFlashImageSize);
    image.ImageLength = 0;
    Read r;
    r.result = ReadSRecordFile(path, image, [&r] { ++r.records; }, chunk);
    return r;
}

bool HasTrailer(const FlashImage& image) {
    const uint8_t* t = image.Bytes() + image.ImageLength;
    for (uint32_t i = 0; i < kTrailerSize; ++i) {
        const bool inMarker = i >= kTrailerMarkerOffset && i < kTrailerMarkerOffset + kTrailerMarkerLength;
        const uint8_t want = inMarker ? static_cast<uint8_t>(kTrailerMarker[i - kTrailerMarkerOffset]) : 0xFF;
        if (t[i] != want) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Input input;
    static FlashImage large, small;
    input.Store(data, size);

    // 1 to 7 bytes per read, varied with the input so that lines of every
    // length meet chunk boundaries at every offset.
    const size_t tinyChunk = 1 + size % 7;
    const Read a = ReadWith(input.path, large, 0x00, kReadChunkBytes);
    const Read b = ReadWith(input.path, small, 0xA5, tinyChunk);

    Check(a.result.outcome != ReadOutcome::CannotOpen, "the input file could not be read");
    Check(a.result.outcome == b.result.outcome, "outcome differs between chunk sizes");
    Check(a.result.line == b.result.line, "line differs between chunk sizes");
    Check(a.result.endText == b.result.endText, "end text differs between chunk sizes");
    Check(a.result.message == b.result.message, "message differs between chunk sizes");
    Check(a.records == b.records, "number of records placed differs between chunk sizes");

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
    Check(a.result.endText == "S1 file format" || a.result.endText == "S2 file format" ||
              a.result.endText == "S3 file format",
          "an acceptance without a known end text");
    Check(large.ImageLength == small.ImageLength, "image length differs between chunk sizes");
    Check(large.ImageLength <= kMaxImageLength, "an accepted image exceeds the size limit");
    Check(std::memcmp(large.Bytes(), small.Bytes(), large.ImageLength + kTrailerSize) == 0,
          "image bytes differ between chunk sizes (or were not all written)");
    Check(HasTrailer(large), "an accepted image without its trailer");
    return 0;
}
