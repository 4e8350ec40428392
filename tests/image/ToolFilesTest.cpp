// Files as objcopy and srec_cat write them, made from a binary at test time.
// Each tool's cases are skipped when the tool is not installed.
#include "SRecordText.h"

#include <gtest/gtest.h>

#include <cstring>
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
    const char* options;  // %IN% and %OUT% stand for the files
    uint32_t address;     // where the data lands
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
        // Intel HEX: objcopy bases addresses past 64 KiB on 02 segment
        // records, srec_cat on 04 linear ones; both end with an 01 record.
        {"objcopy", "-I binary -O ihex %IN% %OUT%", 0, "HEX file format", ":00000001FF"},
        {"objcopy", "-I binary -O ihex --change-addresses 0x1FFF0 %IN% %OUT%", 0x1FFF0, "HEX file format",
         ":020000022000DC"},
        {"srec_cat", "%IN% -binary -o %OUT% -intel", 0, "HEX file format", ":00000001FF"},
        {"srec_cat", "%IN% -binary -offset 0x2FF00 -o %OUT% -intel", 0x2FF00, "HEX file format", ":020000040003F7"},
    };
    int ran = 0;
    for (const ToolCase& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.options);
        if (!Installed(c.tool)) continue;
        TempFile srec("", std::strstr(c.endText, "HEX") ? ".hex" : ".mot");
        const std::string command =
            std::string(c.tool) + " " + Expand(c.options, binary.Path(), srec.Path()) + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(srec.Path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_NE(text.find(c.mustContain), std::string::npos) << "the tool's output changed:\n" << text.substr(0, 200);

        ReadOf r;
        r.result = ReadImageFile(srec.Path(), *r.image);
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

std::string Output(const std::string& command) {
    TempFile out("", ".out");
    if (std::system((command + " > " + out.Path() + " 2>/dev/null").c_str()) != 0) return "";
    std::ifstream in(out.Path(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ReadResultText(const std::string& text) {
    TempFile file(text);
    FlashImage image;
    const ReadResult r = ReadImageFile(file.Path(), image);
    return r.Accepted() ? r.endText : r.message;
}

TEST(SRecordToolFiles, IntelHexWithAGapAcrossA64KiBBoundaryGivesTheSRecordImage) {
    if (!Installed("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    const Bytes data = Sample(6000);
    TempFile low(std::string(data.begin(), data.begin() + 2048), ".bin");
    TempFile high(std::string(data.begin() + 2048, data.end()), ".bin");
    // 0xF000..0xF7FF and 0x10800..0x11C6F: the gap spans 0x10000.
    const std::string pieces =
        "srec_cat " + low.Path() + " -binary -offset 0xF000 " + high.Path() + " -binary -offset 0x10800 -o - ";
    const std::string hex = Output(pieces + "-intel");
    const std::string srec = Output(pieces + "-address-length=3");
    ASSERT_NE(hex.find(":020000040001F9"), std::string::npos) << hex.substr(0, 200);
    ASSERT_NE(srec.find("\nS2"), std::string::npos);

    ReadOf h, m;
    TempFile hexFile(hex, ".hex"), srecFile(srec, ".mot");
    h.result = ReadImageFile(hexFile.Path(), *h.image);
    m.result = ReadImageFile(srecFile.Path(), *m.image);
    ASSERT_TRUE(h.result.Accepted()) << h.result.message;
    ASSERT_TRUE(m.result.Accepted()) << m.result.message;
    EXPECT_EQ(h.result.endText, "HEX file format");
    EXPECT_EQ(m.result.endText, "S2 file format");
    EXPECT_EQ(h.image->ImageLength, 0x10800u + 6000 - 2048);
    EXPECT_TRUE(h.Image() == m.Image());
    EXPECT_TRUE(h.Trailer() == m.Trailer());
    EXPECT_EQ(h.image->Bytes()[0xFFFF], 0xFF);
    EXPECT_EQ(h.image->Bytes()[0x10800], data[2048]);
}

TEST(SRecordToolFiles, SrecCatFileThatLostRecordsIsRefusedByItsCount) {
    if (!Installed("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    const Bytes data = Sample(320);  // ten data records of 32 bytes
    TempFile binary(std::string(data.begin(), data.end()), ".bin");
    const std::string whole = Output("srec_cat " + binary.Path() + " -binary -o -");
    ASSERT_EQ(ReadResultText(whole), "S1 file format");

    // srec_cat writes S0, the data, then S5: line 12 of 12.
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = whole.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(whole.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 12u) << whole;
    ASSERT_EQ(lines.back().substr(0, 2), "S5");

    // A lost record leaves only a gap, which the addresses allow; the count
    // record, now on line 11, finds it.
    for (size_t lostLine : {2u, 6u, 11u}) {
        std::vector<std::string> lost = lines;
        lost.erase(lost.begin() + static_cast<long>(lostLine - 1));
        EXPECT_EQ(ReadResultText(Lines(lost)), "file count err line 11") << "line " << lostLine << " lost";
    }

    // Cut after its count record, the file is whole.
    EXPECT_EQ(ReadResultText(Lines(lines)), "S1 file format");
}

}  // namespace
