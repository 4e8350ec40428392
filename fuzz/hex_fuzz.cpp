// Fuzz target for the Intel HEX reader: fuzz/ReaderFuzz.h has the checks.
#include "ReaderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> endTexts = {"HEX file format"};
    return reader_fuzz::FuzzOneInput(data, size, ImageFormat::IntelHex, endTexts);
}
