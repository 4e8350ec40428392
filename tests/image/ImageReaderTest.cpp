// The reader front: Intel HEX, raw binary, the choice of reader by content,
// and the memory entry point. (S-records have their own tests.)
#include "SRecordText.h"

#include <gtest/gtest.h>

namespace {

Bytes Fill(size_t n) { return Bytes(n, 0xFF); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

ImageReadOptions Options(ImageFormat format, size_t chunk = kReadChunkBytes, uint32_t address = 0) {
    ImageReadOptions o;
    o.format = format;
    o.chunkBytes = chunk;
    o.binaryAddress = address;
    return o;
}

// Reads `text` through a file and from memory with the same options; both
// must give the same outcome, message and image.
ReadOf ReadBoth(const std::string& text, const ImageReadOptions& options, const char* suffix = ".hex") {
    TempFile file(text, suffix);
    ReadOf r;
    ImageReadOptions counted = options;
    counted.perRecord = [&r] { ++r.records; };
    r.result = ReadImageFile(file.Path(), *r.image, counted);

    FlashImage memory;
    const ReadResult m = ReadImageMemory(text.data(), text.size(), memory, options);
    EXPECT_EQ(m.outcome, r.result.outcome);
    EXPECT_EQ(m.message, r.result.message);
    EXPECT_EQ(m.endText, r.result.endText);
    if (m.Accepted() && r.result.Accepted()) {
        EXPECT_EQ(memory.ImageLength, r.image->ImageLength);
        EXPECT_TRUE(std::equal(memory.Bytes(), memory.Bytes() + memory.ImageLength + kTrailerSize, r.image->Bytes()))
            << "the memory entry point placed other bytes";
    }
    return r;
}

const std::string kEnd = HexRecord(0x01, 0);
std::string Linear(uint16_t upper) {
    return HexRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
std::string Segment(uint16_t paragraph) {
    return HexRecord(0x02, 0, {static_cast<uint8_t>(paragraph >> 8), static_cast<uint8_t>(paragraph)});
}

const size_t kChunkSizes[] = {1, 3, 64, kReadChunkBytes};

TEST(IntelHexReader, AcceptsWellFormedFiles) {
    struct Case {
        const char* what;
        std::string text;
        Bytes image;
        int records;
    };
    const Bytes a = Counting(16, 0x00), b = Counting(16, 0x40);
    const Case cases[] = {
        {"data at 0 and 0x10, end record", Lines({HexRecord(0, 0, a), HexRecord(0, 0x10, b), kEnd}), Concat({a, b}), 2},
        {"gap and everything below the first record filled",
         Lines({HexRecord(0, 0x20, a), HexRecord(0, 0x40, b), kEnd}), Concat({Fill(0x20), a, Fill(0x10), b}), 2},
        {"adjacent records of different lengths",
         Lines({HexRecord(0, 0, Counting(5)), HexRecord(0, 5, Counting(11, 5)), kEnd}), Counting(16), 2},
        {"04 linear base", Lines({Linear(1), HexRecord(0, 0x0010, a), kEnd}), Concat({Fill(0x10010), a}), 1},
        {"02 segment base", Lines({Segment(0x1000), HexRecord(0, 0x0008, a), kEnd}), Concat({Fill(0x10008), a}), 1},
        {"under a linear base a record runs on across 64 KiB", Lines({HexRecord(0, 0xFFF8, a), kEnd}),
         Concat({Fill(0xFFF8), a}), 1},
        {"gap across a 64 KiB boundary, then back to base 0 is not needed",
         Lines({HexRecord(0, 0xFFE0, a), Linear(1), HexRecord(0, 0x0020, b), kEnd}),
         Concat({Fill(0xFFE0), a, Fill(0x30), b}), 2},
        {"03 and 05 start addresses are ignored",
         Lines({HexRecord(0x03, 0, {0, 0, 1, 0}), HexRecord(0, 0, a), HexRecord(0x05, 0, {0, 0, 0, 0x40}), kEnd}), a,
         1},
        {"nothing after the end record is read", Lines({HexRecord(0, 0, a), kEnd, "garbage", HexRecord(0, 0, b, 1)}), a,
         1},
        {"no end record after complete data", Lines({HexRecord(0, 0, a)}), a, 1},
        {"no end record, last line without line end", HexRecord(0, 0, a), a, 1},
        {"only an end record: empty image", Lines({kEnd}), {}, 0},
        {"a data record without data moves the end of the image", Lines({HexRecord(0, 0, a), HexRecord(0, 0x20), kEnd}),
         Concat({a, Fill(16)}), 2},
        {"lower-case digits, CR LF, blank lines, trailing blanks", "\r\n:020000000A0bE9 \t\r\n\n:00000001ff\r\n",
         Bytes{0x0A, 0x0B}, 1},
        {"data reaching the last byte before the trailer",
         Lines({Linear(static_cast<uint16_t>((kMaxImageLength - 16) >> 16)),
                HexRecord(0, static_cast<uint16_t>(kMaxImageLength - 16), a), kEnd}),
         Concat({Fill(kMaxImageLength - 16), a}), 1},
    };
    for (const Case& c : cases) {
        for (size_t chunk : kChunkSizes) {
            SCOPED_TRACE(std::string(c.what) + ", chunk " + std::to_string(chunk));
            ReadOf r = ReadBoth(c.text, Options(ImageFormat::Detect, chunk));
            ASSERT_TRUE(r.result.Accepted()) << r.result.message;
            EXPECT_EQ(r.result.endText, "HEX file format");
            EXPECT_EQ(r.image->ImageLength, c.image.size());
            EXPECT_TRUE(r.Image() == c.image);
            EXPECT_EQ(r.records, c.records);
            EXPECT_TRUE(r.Trailer() == Concat({Fill(5), Bytes(kTrailerMarker, kTrailerMarker + 9), Fill(114)}));
        }
    }
}

TEST(IntelHexReader, RefusesDamagedFilesWithTheLineAtFault) {
    struct Case {
        const char* what;
        std::string text;
        std::string message;
    };
    const Bytes a = Counting(16);
    const std::string good = HexRecord(0, 0, a);
    std::string badDigit = HexRecord(0, 0x10, a);
    badDigit[12] = 'G';
    const Case cases[] = {
        {"bad checksum of a data record", Lines({good, HexRecord(0, 0x10, a, 1)}), "file checksum err line 2"},
        {"bad checksum of the end record", Lines({good, HexRecord(0x01, 0, {}, 1)}), "file checksum err line 2"},
        {"bad checksum of an address record", Lines({HexRecord(0x04, 0, {0, 1}, 1)}), "file checksum err line 1"},
        {"not a hex digit", Lines({good, badDigit}), "file format err line 2"},
        {"record cut short", Lines({good, HexRecord(0, 0x10, a).substr(0, 30), kEnd}), "file format err line 2"},
        {"line too long for its count", Lines({good, HexRecord(0, 0x10, a) + "00"}), "file format err line 2"},
        {"file cut inside a record", good + "\n" + HexRecord(0, 0x10, a).substr(0, 20), "file format err line 2"},
        {"a line that is not a record", Lines({good, "S9030000FC"}), "file format err line 2"},
        {"a line shorter than any record", Lines({good, ":00"}), "file format err line 2"},
        {"unknown record type 06", Lines({good, HexRecord(0x06, 0)}), "file format err line 2"},
        {"end record with data", Lines({good, HexRecord(0x01, 0, {0})}), "file format err line 2"},
        {"04 with a wrong length", Lines({HexRecord(0x04, 0, {1})}), "file format err line 1"},
        {"02 with a wrong length", Lines({HexRecord(0x02, 0, {0, 0, 1})}), "file format err line 1"},
        {"05 with a wrong length", Lines({good, HexRecord(0x05, 0, {0, 0})}), "file format err line 2"},
        {"records out of order", Lines({HexRecord(0, 0x20, a), "", HexRecord(0, 0, a)}), "file address err line 3"},
        {"overlapping the previous record by one byte", Lines({good, HexRecord(0, 0x0F, a)}),
         "file address err line 2"},
        {"a lower base after a higher one", Lines({Linear(1), good, Linear(0), good}), "file address err line 4"},
        {"a record wrapping at the end of its segment", Lines({Segment(0), HexRecord(0, 0xFFF8, a)}),
         "file address err line 2"},
        {"image and trailer do not fit",
         Lines({Linear(static_cast<uint16_t>(kMaxImageLength >> 16)),
                HexRecord(0, static_cast<uint16_t>(kMaxImageLength - 15), a)}),
         "file size err line 2"},
        {"a base near the top of 32 bits", Lines({Linear(0xFFFF), HexRecord(0, 0xFFF8, a)}), "file size err line 2"},
        {"address records only, no end", Lines({Linear(0), HexRecord(0x05, 0, {0, 0, 0, 0})}),
         "file format err line 3"},
    };
    for (const Case& c : cases) {
        for (size_t chunk : {size_t{1}, size_t{5}, kReadChunkBytes}) {
            SCOPED_TRACE(std::string(c.what) + ", chunk " + std::to_string(chunk));
            ReadOf r = ReadBoth(c.text, Options(ImageFormat::Detect, chunk));
            EXPECT_FALSE(r.result.Accepted());
            EXPECT_EQ(r.result.message, c.message);
            EXPECT_EQ(std::to_string(r.result.line), c.message.substr(c.message.rfind(' ') + 1));
        }
    }
}

TEST(ImageReader, LineLengthLimitHoldsWhereverThePiecesBreak) {
    // A header of 1024 characters is skipped, one of 1025 refused, blanks
    // behind it do not count; in one piece or across many.
    const std::string first = Record('1', 0, Counting(16)), second = Record('1', 0x10, Counting(16));
    struct Case {
        const char* what;
        std::string header;
        std::string outcome;
    };
    const Case cases[] = {
        {"header of 1024 characters", "S0" + std::string(1022, 'x'), "S1 file format"},
        {"header of 1025 characters", "S0" + std::string(1023, 'x'), "file format err line 2"},
        {"header of 1024 characters and blanks", "S0" + std::string(1022, 'x') + " \t \r", "S1 file format"},
    };
    for (const Case& c : cases) {
        for (size_t chunk : kChunkSizes) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(chunk));
            ReadOf r = ReadBoth(Lines({first, c.header, second}), Options(ImageFormat::Detect, chunk), ".mot");
            EXPECT_EQ(r.result.Accepted() ? r.result.endText : r.result.message, c.outcome);
        }
    }
}

TEST(ImageReader, ChoosesTheReaderByContentNotByName) {
    const Bytes a = Counting(16);
    const std::string hex = Lines({HexRecord(0, 0, a), kEnd});
    const std::string srec = Lines({Record('1', 0, a), Record('9', 0)});
    struct Case {
        const char* what;
        std::string text;
        const char* suffix;
        ImageFormat format;
        std::string outcome;
    };
    const Case cases[] = {
        {"Intel HEX named .mot", hex, ".mot", ImageFormat::Detect, "HEX file format"},
        {"S-records named .hex", srec, ".hex", ImageFormat::Detect, "S1 file format"},
        {"Intel HEX after blank lines and blanks", "\n \r\n\t" + hex, ".txt", ImageFormat::Detect,
         "file format err line 3"},  // chosen by ':', then the line's leading tab refuses it
        {"Intel HEX after blank lines", "\n\r\n" + hex, ".txt", ImageFormat::Detect, "HEX file format"},
        {"neither: read as S-records", "hello\n", ".hex", ImageFormat::Detect, "file format err line 1"},
        {"empty file: as S-records", "", ".hex", ImageFormat::Detect, "file format err line 1"},
        {"Intel HEX read as S-records", hex, ".hex", ImageFormat::SRecord, "file format err line 1"},
        {"S-records read as Intel HEX", srec, ".mot", ImageFormat::IntelHex, "file format err line 1"},
        {"a file of both: the first record decides", Lines({Record('1', 0, a), HexRecord(0, 0x10, a)}), ".mot",
         ImageFormat::Detect, "file format err line 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadOf r = ReadBoth(c.text, Options(c.format), c.suffix);
        EXPECT_EQ(r.result.Accepted() ? r.result.endText : r.result.message, c.outcome);
        if (r.result.Accepted()) {
            EXPECT_TRUE(r.Image() == a);
        }
    }
}

TEST(ImageReader, RawBinaryIsPlacedAtItsAddress) {
    const Bytes data = Counting(300, 7);
    const std::string text(data.begin(), data.end());
    struct Case {
        const char* what;
        std::string text;
        uint32_t address;
        std::string outcome;
        Bytes image;
    };
    const Case cases[] = {
        {"at 0", text, 0, "BIN file format", data},
        {"at 0x1000, 0xFF below", text, 0x1000, "BIN file format", Concat({Fill(0x1000), data})},
        {"bytes that look like S-records are data", "S9030000FC\n", 0, "BIN file format",
         Bytes{'S', '9', '0', '3', '0', '0', '0', '0', 'F', 'C', '\n'}},
        {"empty file at an address: the fill only", "", 0x20, "BIN file format", Fill(0x20)},
        {"reaching the last byte before the trailer", text, kMaxImageLength - 300, "BIN file format",
         Concat({Fill(kMaxImageLength - 300), data})},
        {"one byte too many", text, kMaxImageLength - 299, "file size err", {}},
        {"an address past the image", "", kMaxImageLength + 1, "file size err", {}},
        {"an address near the top of 32 bits", text, 0xFFFFFF00, "file size err", {}},
    };
    for (const Case& c : cases) {
        for (size_t chunk : {size_t{1}, size_t{64}, kReadChunkBytes}) {
            SCOPED_TRACE(std::string(c.what) + ", chunk " + std::to_string(chunk));
            ReadOf r = ReadBoth(c.text, Options(ImageFormat::Binary, chunk, c.address), ".bin");
            EXPECT_EQ(r.result.Accepted() ? r.result.endText : r.result.message, c.outcome);
            if (!r.result.Accepted()) {
                EXPECT_EQ(r.result.outcome, ReadOutcome::SizeError);
                EXPECT_EQ(r.result.line, 0u);
                continue;
            }
            EXPECT_EQ(r.image->ImageLength, c.image.size());
            EXPECT_TRUE(r.Image() == c.image);
        }
    }

    // An endless stream ends the read once it passes the image.
    FlashImage image;
    EXPECT_EQ(ReadImageFile("/dev/zero", image, Options(ImageFormat::Binary)).message, "file size err");
}

// The data bytes a file held, which the command line's refusal of a file
// without data reads; gaps and address records do not count.
TEST(ImageReader, CountsTheDataBytesOfEveryFormat) {
    const Bytes a = Counting(16);
    struct Case {
        const char* what;
        std::string text;
        ImageFormat format;
        uint32_t dataBytes;
    };
    const Case cases[] = {
        {"HEX end record alone", Lines({kEnd}), ImageFormat::Detect, 0},
        {"HEX address records and an empty data record", Lines({Linear(1), HexRecord(0, 0x10, {}), kEnd}),
         ImageFormat::Detect, 0},
        {"HEX records with a gap", Lines({HexRecord(0, 0, a), Linear(1), HexRecord(0, 0, a), kEnd}),
         ImageFormat::Detect, 32},
        {"empty binary", "", ImageFormat::Binary, 0},
        {"binary", std::string(300, 'x'), ImageFormat::Binary, 300},
    };
    for (const Case& c : cases) {
        ReadOf r = ReadBoth(c.text, Options(c.format, 5, 0x40));
        ASSERT_TRUE(r.result.Accepted()) << c.what;
        EXPECT_EQ(r.result.dataBytes, c.dataBytes) << c.what;
    }
}

TEST(ImageReader, FormatWords) {
    ImageFormat f = ImageFormat::Detect;
    EXPECT_TRUE(ParseImageFormat("srec", &f) && f == ImageFormat::SRecord);
    EXPECT_TRUE(ParseImageFormat("hex", &f) && f == ImageFormat::IntelHex);
    EXPECT_TRUE(ParseImageFormat("bin", &f) && f == ImageFormat::Binary);
    for (const char* word : {"", "HEX", "ihex", "mot", "s19"}) EXPECT_FALSE(ParseImageFormat(word, &f)) << word;
}

}  // namespace
