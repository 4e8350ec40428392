// Helpers for the image tests: S-record and Intel HEX lines built with
// correct counts and checksums, temporary files, and reading a text through the file reader.
#pragma once

#include "image/FlashImage.h"
#include "image/SRecordReader.h"

#include <fcntl.h>
#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline unsigned AddressWidth(char type) {
    switch (type) {
    case '2':
    case '6':
    case '8': return 3;
    case '3':
    case '7': return 4;
    default: return 2;
    }
}

// One record line without its line end. `checksumDelta` spoils the checksum.
inline std::string Record(char type, uint32_t address, const Bytes& data = {}, int checksumDelta = 0) {
    const unsigned width = AddressWidth(type);
    Bytes body;
    for (unsigned i = width; i-- > 0;) body.push_back(static_cast<uint8_t>(address >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = static_cast<unsigned>(body.size() + 1);
    for (uint8_t b : body) sum += b;
    body.push_back(static_cast<uint8_t>(~sum + checksumDelta));
    std::string line = "S";
    line += type;
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(body.size()));
    line += hex;
    for (uint8_t b : body) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line;
}

// One Intel HEX record line without its line end. `checksumDelta` spoils the
// checksum.
inline std::string HexRecord(uint8_t type, uint16_t offset, const Bytes& data = {}, int checksumDelta = 0) {
    Bytes body = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
                  type};
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : body) sum += b;
    body.push_back(static_cast<uint8_t>(-static_cast<int>(sum) + checksumDelta));
    std::string line = ":";
    char hex[3];
    for (uint8_t b : body) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line;
}

// `n` bytes counting up from `first`.
inline Bytes Counting(size_t n, uint8_t first = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

// `n` bytes of a fixed pseudo-random sequence chosen by `seed`.
inline Bytes PseudoRandom(size_t n, uint32_t seed) {
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    return b;
}

// Joins lines, each followed by `eol`.
inline std::string Lines(const std::vector<std::string>& lines, const std::string& eol = "\n") {
    std::string text;
    for (const std::string& l : lines) text += l + eol;
    return text;
}

// A file in the temporary directory, removed again at the end of the scope.
class TempFile {
public:
    explicit TempFile(const std::string& content = "", const char* suffix = ".mot") {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/h8image-XXXXXX" + suffix;
        int fd = mkstemps(&path_[0], static_cast<int>(std::string(suffix).size()));
        if (fd >= 0) {
            size_t done = 0;
            while (done < content.size()) {
                ssize_t n = ::write(fd, content.data() + done, content.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            ::close(fd);
        }
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

struct ReadOf {
    ReadResult result;
    std::unique_ptr<FlashImage> image = std::make_unique<FlashImage>();
    int records = 0;

    Bytes Image() const { return Bytes(image->Bytes(), image->Bytes() + image->ImageLength); }
    Bytes Trailer() const {
        const uint8_t* t = image->Bytes() + image->ImageLength;
        return Bytes(t, t + kTrailerSize);
    }
};

inline ReadOf ReadFile(const std::string& path, size_t chunk = kReadChunkBytes) {
    ReadOf r;
    r.result = ReadSRecordFile(
        path, *r.image, [&r] { ++r.records; }, chunk);
    return r;
}

inline ReadOf ReadText(const std::string& text, size_t chunk = kReadChunkBytes) {
    TempFile file(text);
    return ReadFile(file.Path(), chunk);
}

// Reads `path` on a thread of its own and waits for it at most `seconds`:
// nothing when the read has not ended by then (the thread is left behind).
inline std::optional<ReadResult> ReadWithin(const std::string& path, int seconds) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable ended;
        std::optional<ReadResult> result;
        FlashImage image;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, path] {
        ReadResult r = ReadSRecordFile(path, shared->image);
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->result = r;
        shared->ended.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->ended.wait_for(lock, std::chrono::seconds(seconds), [&] { return shared->result.has_value(); });
    return shared->result;
}

// The number of open descriptors of this process.
inline int OpenDescriptors() {
    int n = 0;
    for (int fd = 0; fd < 4096; ++fd)
        if (::fcntl(fd, F_GETFD) != -1) ++n;
    return n;
}
