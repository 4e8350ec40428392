// Files as objcopy and srec_cat write them, made from a binary at test time.
// Each tool's cases are skipped when the tool is not installed.
#include "SRecordText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

bool Installed(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes Sample(size_t n) {
    Bytes b(n);
    uint32_t x = 77;
    for (uint8_t& v : b) v = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    return b;
}

struct ToolCase {
    const char* tool;
    const char* options;   // %IN% and %OUT% stand for the files
    uint32_t address;      // where the data lands
    const char* endText;
    const char* mustContain;  // a trait of the tool's output the case relies on
};

std::string Expand(std::string s, const std::string& in, const std::string& out) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"%IN%", in}, {"%OUT%", out}}) {
        for (size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, key.size(), value);
    }
    return s;
}

TEST(SRecordToolFiles, ObjcopyAndSrecCatOutputReadsBackExactly) {
    const Bytes data = Sample(5000);
    TempFile binary(std::string(data.begin(), data.end()), ".bin");
    const ToolCase cases[] = {
        // objcopy: CR LF line ends, an S0 with the file name, S9/S8/S7 end records.
        {"objcopy", "-I binary -O srec %IN% %OUT%", 0, "S1 file format", "\r\nS9"},
        {"objcopy", "-I binary -O srec --change-addresses 0x100 %IN% %OUT%", 0x100, "S1 file format", "S0"},
        {"objcopy", "-I binary -O srec --change-addresses 0x12000 %IN% %OUT%", 0x12000, "S2 file format", "\r\nS8"},
        {"objcopy", "-I binary -O srec --srec-forceS3 --srec-len 64 %IN% %OUT%", 0, "S3 file format", "\r\nS7"},
        // srec_cat: LF line ends, 32 bytes per record, an S5 count and no end
        // record unless one is asked for.
        {"srec_cat", "%IN% -binary -o %OUT%", 0, "S1 file format", "\nS5"},
        {"srec_cat", "%IN% -binary -offset 0x20000 -o %OUT%", 0x20000, "S2 file format", "\nS5"},
        {"srec_cat", "%IN% -binary -offset 0x40 -o %OUT% -address-length=4", 0x40, "S3 file format", "\nS5"},
        {"srec_cat", "%IN% -binary -o %OUT% -execution-start-address 0", 0, "S1 file format", "\nS9"},
    };
    int ran = 0;
    for (const ToolCase& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.options);
        if (!Installed(c.tool)) continue;
        TempFile srec("", ".mot");
        const std::string command = std::string(c.tool) + " " + Expand(c.options, binary.Path(), srec.Path()) + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(srec.Path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_NE(text.find(c.mustContain), std::string::npos) << "the tool's output changed:\n" << text.substr(0, 200);

        ReadOf r = ReadFile(srec.Path());
        ASSERT_TRUE(r.result.Accepted()) << r.result.message;
        EXPECT_EQ(r.result.endText, c.endText);
        Bytes expected(c.address, 0xFF);
        expected.insert(expected.end(), data.begin(), data.end());
        EXPECT_EQ(r.image->ImageLength, expected.size());
        EXPECT_TRUE(r.Image() == expected);
        ++ran;
    }
    if (ran == 0) GTEST_SKIP() << "neither objcopy nor srec_cat is installed";
}

}  // namespace
