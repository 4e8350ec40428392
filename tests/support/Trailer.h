// The 128 bytes that the writer places right behind every image, written out
// here independently of the code: five 0xFF, "QXA060220", then 0xFF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<uint8_t> ExpectedTrailer() {
    std::vector<uint8_t> trailer(128, 0xFF);
    const std::string marker = "QXA060220";
    for (size_t i = 0; i < marker.size(); ++i) trailer[5 + i] = static_cast<uint8_t>(marker[i]);
    return trailer;
}
