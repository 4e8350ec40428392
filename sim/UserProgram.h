// What the simulated board's user program reports about the flash: the size of
// the programmed image and a 16-bit sum of its bytes, sent as one banner line
// after every restart into the user program. The command line and tests
// compute the same figures from the image they wrote.
//
// Size: if the flash holds the writer's trailer (five 0xFF bytes followed by
// "QXA060220", placed right behind the image) the offset of its last such
// occurrence; otherwise the end of the last 128-byte block that is not all
// 0xFF (0 for a blank flash).
// Sum: the bytes of [0, size) added up modulo 65536.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct FlashSummary {
    uint32_t size = 0;
    uint16_t sum = 0;
};

FlashSummary SummarizeFlash(const uint8_t* flash, size_t length);

// The banner: "H8SX/1622 user program: <size> bytes, sum 0x<SUM>\r\n", the
// size in decimal, the sum as four upper-case hex digits.
std::string UserProgramBanner(const FlashSummary& summary);
