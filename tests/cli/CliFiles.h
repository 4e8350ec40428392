// What the end-to-end tests of the commands share: the simulated board's
// options, small S-record files and checks of the flash a write left.
#pragma once

#include "Run.h"
#include "support/Trailer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr double kLimit = 30;  // seconds; a run that takes longer has hung

// The board options every test uses: a quick erase and a flash file of its own.
inline std::string Sim(const std::string& flash, const std::string& more = "") {
    return "--sim=flash=" + flash + ",flash-size=64K,erase-time=50ms" + (more.empty() ? "" : "," + more);
}

// S1 records of 16 bytes from address 0 and an S9 end record.
inline std::string MakeSrec(const std::string& data) {
    std::string text;
    char buf[16];
    for (size_t at = 0; at < data.size(); at += 16) {
        const size_t n = std::min<size_t>(16, data.size() - at);
        unsigned sum = static_cast<unsigned>(n + 3) + ((at >> 8) & 0xFF) + (at & 0xFF);
        std::snprintf(buf, sizeof buf, "S1%02X%04X", static_cast<unsigned>(n + 3), static_cast<unsigned>(at));
        text += buf;
        for (size_t k = 0; k < n; ++k) {
            const unsigned char c = static_cast<unsigned char>(data[at + k]);
            sum += c;
            std::snprintf(buf, sizeof buf, "%02X", c);
            text += buf;
        }
        std::snprintf(buf, sizeof buf, "%02X\n", ~sum & 0xFF);
        text += buf;
    }
    return text + "S9030000FC\n";
}

inline std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

// True when `wanted` appear in `lines` in this order (others may lie between).
inline ::testing::AssertionResult InOrder(const std::vector<std::string>& lines,
                                          const std::vector<std::string>& wanted) {
    size_t k = 0;
    for (const std::string& line : lines)
        if (k < wanted.size() && line == wanted[k]) ++k;
    if (k == wanted.size()) return ::testing::AssertionSuccess();
    std::string all;
    for (const std::string& line : lines) all += "  [" + line + "]\n";
    return ::testing::AssertionFailure() << "missing \"" << wanted[k] << "\" (in order) in:\n" << all;
}

// The flash holds `data` from address 0, the start of the trailer behind it
// (the rest of the last block), and is erased beyond.
inline void ExpectFlashHolds(const std::string& flashPath, const std::string& data) {
    bool exists = false;
    const std::string flash = ReadFile(flashPath, &exists);
    ASSERT_TRUE(exists) << flashPath;
    ASSERT_GE(flash.size(), data.size() + 128);
    EXPECT_EQ(flash.substr(0, data.size()), data);
    const size_t blocksEnd = (data.size() + 127) / 128 * 128;
    const std::vector<uint8_t> trailer = ExpectedTrailer();
    EXPECT_EQ(flash.substr(data.size(), blocksEnd - data.size()),
              std::string(trailer.begin(), trailer.begin() + (blocksEnd - data.size())));
    EXPECT_EQ(flash.find_first_not_of('\xFF', blocksEnd), std::string::npos);
}
