// Reads an S-record file of a full image several times and prints the time
// per read and the rate. The image is the largest one the flash image holds
// with its trailer (982,964 bytes, 76 short of 960 KB); the file is generated
// in the temporary directory (S3 records of 16 data bytes, CR LF, as objcopy
// writes them) and removed afterwards.
//
//   srec_bench [reads]
#include "image/FlashImage.h"
#include "image/SRecordReader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
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

}  // namespace

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    // 1. The file: a header, the image in S3 records, the end record.
    std::vector<uint8_t> data(kImageBytes);
    uint32_t x = 1;
    for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    std::string text;
    text.reserve(kImageBytes / kRecordBytes * 48 + 64);
    const uint8_t name[] = {'b', 'e', 'n', 'c', 'h'};
    AppendRecord(text, '0', 0, name, sizeof name);
    for (uint32_t at = 0; at < kImageBytes; at += kRecordBytes)
        AppendRecord(text, '3', at, &data[at], std::min(kRecordBytes, kImageBytes - at));
    AppendRecord(text, '7', 0, nullptr, 0);

    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/srec_bench-XXXXXX";
    const int fd = mkstemp(&path[0]);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        std::fprintf(stderr, "srec_bench: cannot write %s\n", path.c_str());
        return 1;
    }
    close(fd);

    // 2. Read it `reads` times into one image.
    FlashImage image;
    std::vector<double> ms;
    long records = 0;
    bool intact = true;
    for (int i = 0; i < reads; ++i) {
        records = 0;
        const auto start = std::chrono::steady_clock::now();
        const ReadResult r = ReadSRecordFile(path, image, [&records] { ++records; });
        const auto end = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        if (!r.Accepted()) std::fprintf(stderr, "srec_bench: %s\n", r.message.c_str());
        intact = intact && r.Accepted() && image.ImageLength == kImageBytes &&
                 std::equal(data.begin(), data.end(), image.Bytes());
    }
    std::remove(path.c_str());
    if (!intact) {
        std::fprintf(stderr, "srec_bench: the image read back differs from the data written\n");
        return 1;
    }

    // 3. The figures.
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double mb = text.size() / 1e6;
    std::printf("file: %.2f MB, %ld data records, image %u bytes\n", mb, records, kImageBytes);
    std::printf("reads: %d  min %.2f ms  median %.2f ms  max %.2f ms\n", reads, ms.front(), median, ms.back());
    std::printf("rate: %.0f MB/s of file, %.0f MB/s of image (median)\n", mb / (median / 1e3),
                kImageBytes / 1e6 / (median / 1e3));
    return 0;
}
