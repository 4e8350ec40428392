#include "SRecordText.h"
#include "support/Trailer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const std::string kHeader = Record('0', 0, {'t', 'e', 's', 't'});

Bytes Fill(size_t n) { return Bytes(n, 0xFF); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Every chunk size must give the same result: lines that span two reads,
// and CR LF pairs split between them, are put together again.
const size_t kChunkSizes[] = {1, 2, 3, 7, 64, kReadChunkBytes};

struct Accepted {
    const char* what;
    std::string text;
    const char* endText;
    Bytes image;
    int records;
};

TEST(SRecordReader, AcceptsWellFormedFiles) {
    const Bytes a = Counting(16, 0x00), b = Counting(16, 0x40), c = Counting(16, 0x80);
    const std::vector<Accepted> cases = {
        {"header, S1 records at 0, 0x10, 0x20, S9",
         Lines({kHeader, Record('1', 0, a), Record('1', 0x10, b), Record('1', 0x20, c), Record('9', 0)}),
         "S1 file format", Concat({a, b, c}), 3},
        {"gap between records is filled", Lines({Record('1', 0, a), Record('1', 0x20, b), Record('9', 0)}),
         "S1 file format", Concat({a, Fill(16), b}), 2},
        {"S2 records with S8; the end record's own address is ignored",
         Lines({Record('2', 0, a), Record('2', 0x10, b), Record('8', 0x123456)}), "S2 file format", Concat({a, b}), 2},
        {"S3 records with S7", Lines({kHeader, Record('3', 0, a), Record('7', 0xFFFFFFFF)}), "S3 file format", a, 1},
        {"first record above 0: filled from address 0", Lines({Record('1', 0x0100, a), Record('9', 0)}),
         "S1 file format", Concat({Fill(0x100), a}), 1},
        {"empty lines, trailing blanks and CR LF",
         "\n" + kHeader + "\r\n\r\n" + Record('1', 0, a) + " \t\r\n  \n" + Record('9', 0) + "\t\n", "S1 file format", a,
         1},
        {"header in the middle, S5 and S6 counts are skipped",
         Lines({Record('1', 0, a), kHeader, Record('5', 1), Record('6', 1), Record('1', 0x10, b), Record('9', 0)}),
         "S1 file format", Concat({a, b}), 2},
        {"nothing after the end record is read",
         Lines({Record('1', 0, a), Record('9', 0), "garbage", Record('1', 0, b, 1)}), "S1 file format", a, 1},
        {"only an end record: empty image", Lines({Record('9', 0)}), "S1 file format", {}, 0},
        {"header and end record: empty image", Lines({kHeader, Record('7', 0)}), "S3 file format", {}, 0},
        {"no end record after S1 data", Lines({kHeader, Record('1', 0, a), Record('5', 1)}), "S1 file format", a, 1},
        {"no end record after S2 data", Lines({Record('2', 0, a)}), "S2 file format", a, 1},
        {"no end record after S3 data, last line without line end", Record('3', 0, a), "S3 file format", a, 1},
        {"end record without line end", Record('1', 0, a) + "\n" + Record('9', 0), "S1 file format", a, 1},
        {"a record without data moves the end of the image",
         Lines({Record('1', 0, a), Record('1', 0x20), Record('9', 0)}), "S1 file format", Concat({a, Fill(16)}), 2},
        {"adjacent records: each starts where the one before ends",
         Lines({Record('1', 0, Counting(5)), Record('1', 5, Counting(11, 5)), Record('9', 0)}), "S1 file format",
         Counting(16), 2},
        {"headers are skipped whatever they hold: text, wrong count, wrong checksum, bare type",
         Lines({"S0 firmware v1.2 (c) someone", Record('0', 0, {'x'}, 1), "S0FF00", "S0", Record('1', 0, a),
                Record('9', 0)}),
         "S1 file format", a, 1},
        {"an end record of its type only ends the file", Lines({Record('1', 0, a), "S9", Record('1', 0x10, b)}),
         "S1 file format", a, 1},
        {"S8 of its type only, trailing blanks", Record('2', 0, a) + "\nS8  \r\n", "S2 file format", a, 1},
        {"S7 of its type only, no line end", Record('3', 0, a) + "\nS7", "S3 file format", a, 1},
        {"count records match the data records before them (S5 as srec_cat writes it, S6)",
         Lines(
             {Record('5', 0), Record('1', 0, a), Record('1', 0x10, b), Record('5', 2), Record('6', 2), Record('9', 0)}),
         "S1 file format", Concat({a, b}), 2},
        {"data reaching the last byte before the trailer",
         Lines({Record('3', kMaxImageLength - 16, a), Record('7', 0)}), "S3 file format",
         Concat({Fill(kMaxImageLength - 16), a}), 1},
    };
    for (const Accepted& c : cases) {
        for (size_t chunk : kChunkSizes) {
            SCOPED_TRACE(std::string(c.what) + ", chunk " + std::to_string(chunk));
            ReadOf r = ReadText(c.text, chunk);
            ASSERT_EQ(r.result.outcome, ReadOutcome::Accepted) << r.result.message;
            EXPECT_EQ(r.result.endText, c.endText);
            EXPECT_EQ(r.result.message, "");
            EXPECT_EQ(r.image->ImageLength, c.image.size());
            EXPECT_TRUE(r.Image() == c.image);
            EXPECT_EQ(r.records, c.records);
        }
    }
}

// The data bytes the records held, apart from the image's length, which
// gaps and records without data also move.
TEST(SRecordReader, CountsTheDataBytesOfTheRecords) {
    const Bytes a = Counting(16, 0x00);
    const struct {
        const char* what;
        std::string text;
        uint32_t dataBytes, imageLength;
    } cases[] = {
        {"an end record alone", Lines({Record('9', 0)}), 0, 0},
        {"header, counts and end record", Lines({kHeader, Record('5', 0), Record('7', 0)}), 0, 0},
        {"a record without data above 0", Lines({Record('1', 0x100), Record('9', 0)}), 0, 0x100},
        {"two records with a gap", Lines({Record('1', 0, a), Record('2', 0x40, a), Record('8', 0)}), 32, 0x50},
    };
    for (const auto& c : cases) {
        ReadOf r = ReadText(c.text, kReadChunkBytes);
        ASSERT_EQ(r.result.outcome, ReadOutcome::Accepted) << c.what;
        EXPECT_EQ(r.result.dataBytes, c.dataBytes) << c.what;
        EXPECT_EQ(r.image->ImageLength, c.imageLength) << c.what;
    }
}

TEST(SRecordReader, HexDigitsOfEitherCase) {
    // S1 05 0000 AB 0A checksum: 05+AB+0A = BA, ones' complement 45.
    for (const char* text : {"S1050000AB0A45\n", "S1050000ab0a45\n", "s1050000AB0A45\n"}) {
        ReadOf r = ReadText(text);
        if (text[0] == 's') {  // the record mark itself is upper case only
            EXPECT_EQ(r.result.message, "file format err line 1");
            continue;
        }
        ASSERT_TRUE(r.result.Accepted()) << text << ": " << r.result.message;
        EXPECT_TRUE(r.Image() == (Bytes{0xAB, 0x0A})) << text;
    }
    struct Digit {
        unsigned char c;
        int value;
    };
    for (Digit d : {Digit{'0', 0},
                    {'9', 9},
                    {'A', 10},
                    {'F', 15},
                    {'a', 10},
                    {'f', 15},
                    {'G', -1},
                    {'g', -1},
                    {'/', -1},
                    {':', -1},
                    {'@', -1},
                    {' ', -1},
                    {0, -1},
                    {0xC1, -1}})
        EXPECT_EQ(HexDigitValue(d.c), d.value) << int(d.c);
}

TEST(SRecordReader, LfAndCrLfGiveIdenticalImages) {
    std::vector<std::string> lines = {kHeader};
    for (uint32_t at = 0; at < 4096; at += 32)
        lines.push_back(Record('2', at, Counting(32, static_cast<uint8_t>(at / 7))));
    lines.push_back(Record('8', 0));
    ReadOf lf = ReadText(Lines(lines, "\n"), 4096);
    ReadOf crlf = ReadText(Lines(lines, "\r\n"), 4096);
    ASSERT_TRUE(lf.result.Accepted());
    ASSERT_TRUE(crlf.result.Accepted());
    EXPECT_EQ(lf.image->ImageLength, 4096u);
    EXPECT_TRUE(lf.Image() == crlf.Image());
}

struct Refused {
    const char* what;
    std::string text;
    std::string message;
};

TEST(SRecordReader, RefusesDamagedFilesWithTheLineAtFault) {
    const Bytes a = Counting(16);
    const std::string good = Record('1', 0, a);
    std::string badDigit = Record('1', 0x10, a);
    badDigit[10] = 'G';
    std::string spaceInside = Record('1', 0x10, a);
    spaceInside[10] = ' ';
    const std::string longLine = "S1" + std::string(1500, '0');
    const std::vector<Refused> cases = {
        {"no record mark", Lines({good, "X" + Record('1', 0x10, a).substr(1)}), "file format err line 2"},
        {"leading blank", Lines({" " + good}), "file format err line 1"},
        {"type S4", Lines({good, Record('4', 0x10, a)}), "file format err line 2"},
        {"type not a digit", Lines({good, "SX" + Record('1', 0x10, a).substr(2)}), "file format err line 2"},
        {"not a hex digit in the data", Lines({good, badDigit}), "file format err line 2"},
        {"blank inside a record", Lines({good, spaceInside}), "file format err line 2"},
        {"not a hex digit in the count", Lines({"S1Z30000FC"}), "file format err line 1"},
        {"count too small for address and checksum", Lines({"S1020000FD"}), "file format err line 1"},
        {"S3 count too small", Lines({"S30400000000FB"}), "file format err line 1"},
        {"line too short for its count", Lines({good, Record('1', 0x10, a).substr(0, 38)}), "file format err line 2"},
        {"line too long for its count", Lines({good, Record('1', 0x10, a) + "00"}), "file format err line 2"},
        {"line far longer than any record", Lines({good, longLine}), "file format err line 2"},
        {"CR inside a line", good + "\r" + Record('9', 0) + "\n", "file format err line 1"},
        {"file cut inside a record", good + "\n" + Record('1', 0x10, a).substr(0, 20), "file format err line 2"},
        {"bad checksum of a data record", Lines({good, Record('1', 0x10, a, 1)}), "file checksum err line 2"},
        {"bad checksum of a count record", Lines({good, Record('5', 1, {}, 1)}), "file checksum err line 2"},
        {"bad checksum of the end record", Lines({good, Record('9', 0, {}, 0x80)}), "file checksum err line 2"},
        {"records out of order", Lines({Record('1', 0x20, a), "", Record('1', 0x00, a)}), "file address err line 3"},
        {"records overlapping", Lines({good, Record('1', 0x08, a)}), "file address err line 2"},
        {"same address twice", Lines({good, good}), "file address err line 2"},
        {"overlapping the previous record by one byte", Lines({good, Record('1', 0x0F, a)}), "file address err line 2"},
        {"count record with fewer data records before it", Lines({good, Record('5', 2), Record('9', 0)}),
         "file count err line 2"},
        {"count record with more data records before it", Lines({good, Record('1', 0x10, a), Record('6', 1)}),
         "file count err line 3"},
        {"a data record of its type only", Lines({good, "S1"}), "file format err line 2"},
        {"a count record of its type only", Lines({good, "S5"}), "file format err line 2"},
        {"image and trailer do not fit", Lines({good, Record('3', kMaxImageLength - 15, a)}), "file size err line 2"},
        {"address near the top of 32 bits", Lines({Record('3', 0xFFFFFFF8, a)}), "file size err line 1"},
        {"empty file", "", "file format err line 1"},
        {"only empty lines", "\n\r\n \n", "file format err line 4"},
        {"header only", Lines({kHeader}), "file format err line 2"},
        {"header and count record only", Lines({kHeader, Record('5', 0)}), "file format err line 3"},
    };
    for (const Refused& c : cases) {
        for (size_t chunk : {size_t{1}, size_t{5}, kReadChunkBytes}) {
            SCOPED_TRACE(std::string(c.what) + ", chunk " + std::to_string(chunk));
            ReadOf r = ReadText(c.text, chunk);
            EXPECT_FALSE(r.result.Accepted());
            EXPECT_EQ(r.result.message, c.message);
            EXPECT_EQ(std::to_string(r.result.line), c.message.substr(c.message.rfind(' ') + 1));
        }
    }
}

TEST(SRecordReader, RefusalKinds) {
    struct Kind {
        std::string text;
        ReadOutcome outcome;
    };
    const Bytes a = Counting(16);
    for (const Kind& k : {Kind{Lines({"S4"}), ReadOutcome::FormatError},
                          Kind{Lines({Record('1', 0, a), Record('5', 0)}), ReadOutcome::CountError},
                          Kind{Lines({Record('1', 0, a, 1)}), ReadOutcome::ChecksumError},
                          Kind{Lines({Record('1', 0x10, a), Record('1', 0, a)}), ReadOutcome::AddressError},
                          Kind{Lines({Record('3', kMaxImageLength, {0})}), ReadOutcome::SizeError}})
        EXPECT_EQ(ReadText(k.text).result.outcome, k.outcome) << k.text;
}

TEST(SRecordReader, UnreadableFileGivesNoMessage) {
    FlashImage image;
    for (const char* path : {"/nonexistent/file.mot", "/tmp"}) {
        ReadResult r = ReadSRecordFile(path, image);
        EXPECT_EQ(r.outcome, ReadOutcome::CannotOpen) << path;
        EXPECT_EQ(r.message, "") << path;
    }
}

TEST(SRecordReader, FilesThatAreNotPlainFilesDoNotHoldTheReader) {
    TempFile place;
    const std::string fifo = place.Path() + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    // 1. A FIFO no one writes to reads as an empty file.
    std::optional<ReadResult> r = ReadWithin(fifo, 10);
    ASSERT_TRUE(r.has_value()) << "the read waits for a writer";
    EXPECT_EQ(r->message, "file format err line 1");
    std::remove(fifo.c_str());

    // 2. A pipe whose writer has sent a file and closed (as a shell's
    //    <(command) gives it) reads like that file.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::string text = Lines({Record('1', 0, Counting(16)), Record('9', 0)});
    ASSERT_EQ(::write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(ends[1]);
    r = ReadWithin("/dev/fd/" + std::to_string(ends[0]), 10);
    ::close(ends[0]);
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(r->Accepted()) << r->message;

    // 3. An endless line is refused once it is too long, not at its end.
    r = ReadWithin("/dev/zero", 10);
    ASSERT_TRUE(r.has_value()) << "the read goes on to the end of an endless line";
    EXPECT_EQ(r->message, "file format err line 1");
}

TEST(SRecordReader, TrailerFollowsTheImage) {
    for (size_t length : {0u, 16u, 200u, 250u, 256u}) {
        std::vector<std::string> lines;
        for (size_t at = 0; at < length; at += 16)
            lines.push_back(Record('1', static_cast<uint32_t>(at), Counting(std::min<size_t>(16, length - at))));
        lines.push_back(Record('9', 0));
        ReadOf r = ReadText(Lines(lines));
        ASSERT_TRUE(r.result.Accepted());
        ASSERT_EQ(r.image->ImageLength, length);
        EXPECT_TRUE(r.Trailer() == ExpectedTrailer()) << length;
    }
}

TEST(SRecordReader, FileIsClosedOnEveryOutcome) {
    const int before = OpenDescriptors();
    for (const std::string& text : {Lines({Record('1', 0, {1}), Record('9', 0)}), Lines({Record('1', 0, {1}, 1)}),
                                    std::string(""), Lines({Record('1', 0, {1})})}) {
        ReadText(text);
        EXPECT_EQ(OpenDescriptors(), before);
    }
}

TEST(SRecordReader, FullImageRoundTrip) {
    // Random data over the whole usable image, S3 records of 16 bytes, CR LF.
    const Bytes data = PseudoRandom(kMaxImageLength, 12345);
    std::string text = Lines({Record('0', 0, {'f', 'u', 'l', 'l'})}, "\r\n");
    for (size_t at = 0; at < data.size(); at += 16) {
        const size_t n = std::min<size_t>(16, data.size() - at);
        text += Record('3', static_cast<uint32_t>(at), Bytes(data.begin() + at, data.begin() + at + n)) + "\r\n";
    }
    text += Record('7', 0) + "\r\n";
    ReadOf r = ReadText(text);
    ASSERT_TRUE(r.result.Accepted()) << r.result.message;
    EXPECT_EQ(r.result.endText, "S3 file format");
    EXPECT_TRUE(r.Image() == data);
    EXPECT_EQ(r.records, static_cast<int>((data.size() + 15) / 16));
}

}  // namespace
