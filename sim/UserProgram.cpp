#include "sim/UserProgram.h"

#include <cstdio>
#include <cstring>

namespace {
const uint8_t kMarker[] = {'Q', 'X', 'A', '0', '6', '0', '2', '2', '0'};
constexpr size_t kLeadingFF = 5;
constexpr size_t kBlock = 128;
}  // namespace

FlashSummary SummarizeFlash(const uint8_t* flash, size_t length) {
    FlashSummary s;
    // The last trailer, searched from the end, gives the size.
    bool found = false;
    const size_t pattern = kLeadingFF + sizeof kMarker;
    for (size_t i = length >= pattern ? length - pattern + 1 : 0; i-- > 0;) {
        if (std::memcmp(flash + i + kLeadingFF, kMarker, sizeof kMarker) != 0) continue;
        bool ff = true;
        for (size_t k = 0; k < kLeadingFF; ++k) ff = ff && flash[i + k] == 0xFF;
        if (ff) {
            s.size = static_cast<uint32_t>(i);
            found = true;
            break;
        }
    }
    // Otherwise the end of the last block holding anything but 0xFF.
    if (!found) {
        for (size_t i = length; i-- > 0;) {
            if (flash[i] != 0xFF) {
                size_t end = (i / kBlock + 1) * kBlock;
                s.size = static_cast<uint32_t>(end < length ? end : length);
                break;
            }
        }
    }
    uint32_t sum = 0;
    for (size_t i = 0; i < s.size; ++i) sum += flash[i];
    s.sum = static_cast<uint16_t>(sum);
    return s;
}

std::string UserProgramBanner(const FlashSummary& summary) {
    char line[80];
    std::snprintf(line, sizeof line, "H8SX/1622 user program: %u bytes, sum 0x%04X\r\n",
                  static_cast<unsigned>(summary.size), static_cast<unsigned>(summary.sum));
    return line;
}
