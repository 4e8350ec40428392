// Reads a file of a full image several times, as S-records and as Intel HEX,
// and prints the time per read and the rate of each. The image is the largest
// one the flash image holds with its trailer (982,964 bytes, 76 short of
// 960 KB); the files are generated in the temporary directory (S3 records of
// 16 data bytes, CR LF, as objcopy writes them; Intel HEX records of 16 data
// bytes with an 04 record every 64 KiB, CR LF, as objcopy -O ihex writes them)
// and removed afterwards.
//
//   srec_bench [reads]
#include "image/FlashImage.h"
#include "image/ImageReader.h"

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kImageBytes = kMaxImageLength;
constexpr uint32_t kRecordBytes = 16;

void AppendRecord(std::string& out, char type, uint32_t address, const uint8_t* data, uint32_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    const unsigned width = type == '3' || type == '7' ? 4 : 2;
    const unsigned count = width + n + 1;
    unsigned sum = count;
    auto put = [&](uint8_t b) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
        sum += b;
    };
    out += 'S';
    out += type;
    out += kDigits[count >> 4];
    out += kDigits[count & 15];
    for (unsigned i = width; i-- > 0;) put(static_cast<uint8_t>(address >> (8 * i)));
    for (uint32_t i = 0; i < n; ++i) put(data[i]);
    const uint8_t checksum = static_cast<uint8_t>(~sum);
    out += kDigits[checksum >> 4];
    out += kDigits[checksum & 15];
    out += "\r\n";
}

void AppendHex(std::string& out, uint8_t type, uint16_t offset, const uint8_t* data, uint32_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    unsigned sum = 0;
    auto put = [&](uint8_t b) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
        sum += b;
    };
    out += ':';
    put(static_cast<uint8_t>(n));
    put(static_cast<uint8_t>(offset >> 8));
    put(static_cast<uint8_t>(offset));
    put(type);
    for (uint32_t i = 0; i < n; ++i) put(data[i]);
    put(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
    out += "\r\n";
}

struct Figures {
    double minMs, medianMs, maxMs;
    long records;
};

// Writes `text` to a temporary file and reads it `reads` times; false when
// an image read back differs from `data`.
bool Measure(const char* name, const std::string& text, const std::vector<uint8_t>& data, int reads, Figures* f) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/srec_bench-XXXXXX";
    const int fd = mkstemp(&path[0]);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        std::fprintf(stderr, "srec_bench: cannot write %s\n", path.c_str());
        return false;
    }
    close(fd);

    FlashImage image;
    std::vector<double> ms;
    bool intact = true;
    for (int i = 0; i < reads; ++i) {
        long records = 0;
        ImageReadOptions options;
        options.perRecord = [&records] { ++records; };
        const auto start = std::chrono::steady_clock::now();
        const ReadResult r = ReadImageFile(path, image, options);
        const auto end = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        if (!r.Accepted()) std::fprintf(stderr, "srec_bench: %s: %s\n", name, r.message.c_str());
        intact = intact && r.Accepted() && image.ImageLength == data.size() &&
                 std::equal(data.begin(), data.end(), image.Bytes());
        f->records = records;
    }
    std::remove(path.c_str());
    if (!intact) {
        std::fprintf(stderr, "srec_bench: %s: the image read back differs from the data written\n", name);
        return false;
    }
    std::sort(ms.begin(), ms.end());
    f->minMs = ms.front();
    f->medianMs = ms[ms.size() / 2];
    f->maxMs = ms.back();
    return true;
}

void Print(const char* name, const std::string& text, int reads, const Figures& f) {
    const double mb = text.size() / 1e6;
    std::printf("%s: file %.2f MB, %ld data records, image %u bytes\n", name, mb, f.records, kImageBytes);
    std::printf("%s: reads %d  min %.2f ms  median %.2f ms  max %.2f ms\n", name, reads, f.minMs, f.medianMs, f.maxMs);
    std::printf("%s: rate %.0f MB/s of file, %.0f MB/s of image (median)\n", name, mb / (f.medianMs / 1e3),
                kImageBytes / 1e6 / (f.medianMs / 1e3));
}

}  // namespace

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    std::vector<uint8_t> data(kImageBytes);
    uint32_t x = 1;
    for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);

    // 1. S-records: a header, the image in S3 records, the end record.
    std::string srec;
    srec.reserve(kImageBytes / kRecordBytes * 48 + 64);
    const uint8_t name[] = {'b', 'e', 'n', 'c', 'h'};
    AppendRecord(srec, '0', 0, name, sizeof name);
    for (uint32_t at = 0; at < kImageBytes; at += kRecordBytes)
        AppendRecord(srec, '3', at, &data[at], std::min(kRecordBytes, kImageBytes - at));
    AppendRecord(srec, '7', 0, nullptr, 0);

    // 2. Intel HEX: an 04 record at each 64 KiB, data records, the end record.
    std::string hex;
    hex.reserve(kImageBytes / kRecordBytes * 45 + 64);
    for (uint32_t at = 0; at < kImageBytes; at += kRecordBytes) {
        if (at % 0x10000 == 0) {
            const uint8_t upper[] = {static_cast<uint8_t>(at >> 24), static_cast<uint8_t>(at >> 16)};
            AppendHex(hex, 0x04, 0, upper, 2);
        }
        AppendHex(hex, 0x00, static_cast<uint16_t>(at), &data[at], std::min(kRecordBytes, kImageBytes - at));
    }
    AppendHex(hex, 0x01, 0, nullptr, 0);

    Figures s{}, h{};
    if (!Measure("srec", srec, data, reads, &s) || !Measure("hex", hex, data, reads, &h)) return 1;
    Print("srec", srec, reads, s);
    Print("hex", hex, reads, h);
    return 0;
}
