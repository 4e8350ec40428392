// Fuzz target for the S-record reader: fuzz/ReaderFuzz.h has the checks.
#include "ReaderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> endTexts = {"S1 file format", "S2 file format", "S3 file format"};
    return reader_fuzz::FuzzOneInput(data, size, ImageFormat::SRecord, endTexts);
}
