// The commands end to end, through the real executable on real time. The
// simulated board is given a small erase time and small files, so a whole
// write takes about a second.
#include "support/Trailer.h"
#include "Run.h"

#include "sim/UserProgram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double kLimit = 30;  // seconds; a run that takes longer has hung

// The board options every test uses: a quick erase and a flash file of its own.
std::string Sim(const std::string& flash, const std::string& more = "") {
    return "--sim=flash=" + flash + ",flash-size=64K,erase-time=50ms" + (more.empty() ? "" : "," + more);
}

// S1 records of 16 bytes from address 0 and an S9 end record.
std::string MakeSrec(const std::string& data) {
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

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

// True when `wanted` appear in `lines` in this order (others may lie between).
::testing::AssertionResult InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
    size_t k = 0;
    for (const std::string& line : lines)
        if (k < wanted.size() && line == wanted[k]) ++k;
    if (k == wanted.size()) return ::testing::AssertionSuccess();
    std::string all;
    for (const std::string& line : lines) all += "  [" + line + "]\n";
    return ::testing::AssertionFailure() << "missing \"" << wanted[k] << "\" (in order) in:\n" << all;
}

const std::vector<std::string> kGoodWrite = {
    "Serial Number Read Success!",   "USB Serial Number Open Success!", "bit rate adjust",
    "get ack 1",                     "bit rate adjust complete",        "get ack 2",
    "get ack 3",                     "get ack 4",                       "get ack 5",
    "get ack 6",                     "get ack 7",                       "get ack 8",
    "get ack 9",                     "get ack 10",                      "FLASH ROM Ereasing,,,",
    "FLASH ROM Erase complete! 11",  "boot mat select done 12",         "select write file",
    "file is transing,,",            "S1 file format",                  "File -> cpu board",
    "FLASH ROM write correct done!",
};

// The flash holds `data` from address 0, the start of the trailer behind it
// (the rest of the last block), and is erased beyond.
void ExpectFlashHolds(const std::string& flashPath, const std::string& data) {
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

}  // namespace

TEST(CliWrite, ProgramsTheSimulatedBoardAndReportsEveryStage) {
    TempDir dir;
    const std::string data = Pattern(300);  // three blocks, the last with trailer bytes
    WriteFile(dir.Sub("fw.mot"), MakeSrec(data));

    RunResult r = RunWriter({"write", dir.Sub("fw.mot"), Sim(dir.Sub("flash.bin"))}, kLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(InOrder(r.OutLines(), kGoodWrite));
    EXPECT_EQ(r.OutLines().back(), "FLASH ROM write correct done!");
    // The per-block texts only with --verbose; the bar only on a terminal.
    EXPECT_EQ(r.out.find("rssponse OK"), std::string::npos);
    EXPECT_EQ(r.err, "");
    ExpectFlashHolds(dir.Sub("flash.bin"), data);

    // --verbose adds one text per block, alternating; --quiet keeps the last.
    RunResult v = RunWriter({"write", "-v", dir.Sub("fw.mot"), Sim(dir.Sub("flash.bin"))}, kLimit);
    EXPECT_EQ(v.status, 0) << v.out << v.err;
    EXPECT_TRUE(InOrder(v.OutLines(), {"File -> cpu board", "rssponse OK", std::string(11, ' '), "rssponse OK",
                                       "FLASH ROM write correct done!"}));
    RunResult q = RunWriter({"write", "--quiet", dir.Sub("fw.mot"), Sim(dir.Sub("flash.bin"))}, kLimit);
    EXPECT_EQ(q.status, 0) << q.out << q.err;
    EXPECT_EQ(q.out, "FLASH ROM write correct done!\n");
}

TEST(CliWrite, TargetFailuresExitWithOne) {
    TempDir dir;
    WriteFile(dir.Sub("fw.mot"), MakeSrec(Pattern(64)));
    struct Case {
        const char* fault;
        const char* lastMessage;
    };
    // Faults that show at once: a boot-mode stage and a block. (A silent
    // chip or a block without reply end the same way, after seconds of real
    // time; the write's tests cover them on virtual time.)
    const Case cases[] = {
        {"product=H8/3048F", "not H8SX1622"},
        {"error=50", "response err"},
    };
    for (const Case& c : cases) {
        RunResult r = RunWriter({"write", dir.Sub("fw.mot"), Sim(dir.Sub("flash.bin"), c.fault)}, kLimit);
        ASSERT_FALSE(r.timedOut) << c.fault;
        EXPECT_EQ(r.status, 1) << c.fault << "\n" << r.out << r.err;
        ASSERT_FALSE(r.OutLines().empty()) << c.fault;
        EXPECT_EQ(r.OutLines().back(), c.lastMessage) << c.fault;
    }
}

TEST(CliWrite, RefusedFileExitsWithTwoBeforeTouchingTheBoard) {
    TempDir dir;
    const std::string good = MakeSrec(Pattern(32));
    std::string badChecksum = good;
    badChecksum[badChecksum.find('\n') - 1] ^= 1;  // the first record's checksum
    WriteFile(dir.Sub("bad-sum.mot"), badChecksum);
    WriteFile(dir.Sub("bad-digit.mot"), "S1130000GG\nS9030000FC\n");

    // An existing flash stays as it was; a missing one is not created.
    const std::string before = std::string(1024, '\x5A');
    WriteFile(dir.Sub("kept.bin"), before);

    struct Case {
        std::string file;
        std::string flash;
        std::string out;  // standard output: the status line, as the window shows it
        std::string err;  // standard error: the refusal, named after the file
    };
    const Case cases[] = {
        {dir.Sub("bad-sum.mot"), dir.Sub("kept.bin"), "file checksum err line 1\n",
         "h8sxwriter: " + dir.Sub("bad-sum.mot") + ": file checksum err line 1\n"},
        {dir.Sub("bad-digit.mot"), dir.Sub("new.bin"), "file format err line 1\n",
         "h8sxwriter: " + dir.Sub("bad-digit.mot") + ": file format err line 1\n"},
        {dir.Sub("missing.mot"), dir.Sub("new.bin"), "",
         "h8sxwriter: " + dir.Sub("missing.mot") + ": No such file or directory\n"},
    };
    for (const Case& c : cases) {
        RunResult r = RunWriter({"write", c.file, Sim(c.flash)}, kLimit);
        EXPECT_EQ(r.status, 2) << c.file << "\n" << r.out << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(ReadFile(dir.Sub("kept.bin")), before);
    bool created = true;
    ReadFile(dir.Sub("new.bin"), &created);
    EXPECT_FALSE(created);
}

TEST(CliUsage, UsageErrorsExitWithTwoAndHelpWithZero) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* text;   // expected in the stream below
        bool onStdout;
    };
    const Case cases[] = {
        {{"flash"}, 2, "unknown command 'flash'", false},
        {{"write"}, 2, "Usage: h8sxwriter write FILE", false},
        {{"write", "x.mot", "--frob"}, 2, "unknown option '--frob'", false},
        {{"monitor", "--seconds"}, 2, "needs an argument", false},
        {{"write", "x.mot", "--sim=nosuchoption"}, 2, "nosuchoption", false},
        {{"--help"}, 0, "Commands:", true},
        {{"write", "--help"}, 0, "Usage: h8sxwriter write FILE", true},
        {{"monitor", "--help"}, 0, "Ctrl-]", true},
        {{"reset", "--help"}, 0, "Usage: h8sxwriter reset", true},
        {{"list", "--help"}, 0, "Usage: h8sxwriter list", true},
        {{"sim", "--help"}, 0, "Usage: h8sxwriter sim --pty LINK", true},
    };
    for (const Case& c : cases) {
        RunResult r = RunWriter(c.args, kLimit);
        EXPECT_EQ(r.status, c.status) << c.args[0] << "\n" << r.out << r.err;
        const std::string& stream = c.onStdout ? r.out : r.err;
        EXPECT_NE(stream.find(c.text), std::string::npos) << c.args[0] << "\nout: " << r.out << "\nerr: " << r.err;
        if (c.status == 2) {
            EXPECT_EQ(r.out, "");
        }
    }
}

TEST(CliList, ShowsTheSimulatedConverter) {
    TempDir dir;
    RunResult r = RunWriter({"list", Sim(dir.Sub("flash.bin"))}, kLimit);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0\tSIM1622A1\tsim\n");
}

TEST(CliList, SaysWhyAPathIsNoConverter) {
    TempDir dir;
    dir.Write("plain", "");
    struct Case { std::string path, err; };
    for (const Case& c : {Case{"/dev/null", "h8sxwriter: /dev/null: not a serial port (a character device of class mem)\n"},
                          Case{dir.Sub("plain"), "h8sxwriter: " + dir.Sub("plain") + ": not a serial port (a regular file)\n"}}) {
        RunResult r = RunWriter({"list", "--port", c.path}, kLimit);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(CliMonitor, ShowsTheBannerOfTheProgramJustWritten) {
    TempDir dir;
    const std::string data = Pattern(256);
    WriteFile(dir.Sub("fw.mot"), MakeSrec(data));
    RunResult w = RunWriter({"write", "-q", dir.Sub("fw.mot"), Sim(dir.Sub("flash.bin"))}, kLimit);
    ASSERT_EQ(w.status, 0) << w.out << w.err;

    // Piped input is sent and echoed; the monitor ends once the input has
    // ended and the target has fallen quiet.
    RunResult m = RunWriter({"monitor", "--reset", Sim(dir.Sub("flash.bin"))}, kLimit, "hello");
    ASSERT_FALSE(m.timedOut);
    EXPECT_EQ(m.status, 0) << m.err;
    // The banner names the size and sum of what was written.
    std::string flash = data + std::string(1024, '\xFF');
    const std::string banner =
        UserProgramBanner(SummarizeFlash(reinterpret_cast<const uint8_t*>(flash.data()), flash.size()));
    EXPECT_NE(banner.find(" 256 bytes"), std::string::npos) << banner;
    EXPECT_NE(m.out.find(banner), std::string::npos) << m.out;
    EXPECT_NE(m.out.find("hello"), std::string::npos) << m.out;
    EXPECT_NE(m.err.find("USB Serial Number Open Success!"), std::string::npos) << m.err;
}

TEST(CliWrite, ProgramsTheBoardOnAPseudoTerminalThroughTheTtyBackend) {
    TempDir dir;
    const std::string data = Pattern(200);
    WriteFile(dir.Sub("fw.mot"), MakeSrec(data));
    Background board({"sim", "--pty", dir.Sub("link"), Sim(dir.Sub("flash.bin"))});
    ASSERT_TRUE(WaitForPath(dir.Sub("link"), 10)) << "the board's link did not appear";

    RunResult r = RunWriter({"write", dir.Sub("fw.mot"), "--port", dir.Sub("link")}, kLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(InOrder(r.OutLines(), kGoodWrite));
    EXPECT_EQ(board.Stop(), 0);
    ExpectFlashHolds(dir.Sub("flash.bin"), data);
}

TEST(CliWrite, UnusableRateIsRefusedBeforeTouchingTheBoard) {
    TempDir dir;
    WriteFile(dir.Sub("fw.mot"), MakeSrec(Pattern(32)));
    struct Case {
        std::vector<std::string> options;
        const char* message;
    };
    const Case cases[] = {
        {{"--rate", "150000"}, "nearest setting is 156250 bit/s (+4.17 %)"},
        {{"--rate", "150000"}, "nearest good rates: 130200 and 156200 bit/s"},
        {{"--rate", "99"}, "cannot be told to the chip"},
        {{"--rate", "2000000"}, "nearest good rates: 781200 bit/s"},
        // A 12.00 MHz clock: 700,000 is 7 % below the fastest setting.
        {{"--rate", "700000", "--clock", "12"}, "nearest good rates: 375000 and 750000 bit/s"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"write", dir.Sub("fw.mot"), Sim(dir.Sub("new.bin"))};
        args.insert(args.end(), c.options.begin(), c.options.end());
        RunResult r = RunWriter(args, kLimit);
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << "nothing was shown: the converter was not opened";
    }
    bool created = true;
    ReadFile(dir.Sub("new.bin"), &created);
    EXPECT_FALSE(created);
}

TEST(CliRates, ListsTheUsableRatesFastestFirst) {
    RunResult r = RunWriter({"rates"}, kLimit);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = r.OutLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[2].substr(0, 24), "   781200    0/0     781");
    EXPECT_NE(lines[2].find("1.73 ms"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3].substr(0, 9), "   390600");
    EXPECT_EQ(lines.back().substr(0, 9), "    38400");

    RunResult twelve = RunWriter({"rates", "--clock", "12.00"}, kLimit);
    EXPECT_EQ(twelve.status, 0) << twelve.err;
    ASSERT_GE(twelve.OutLines().size(), 3u);
    EXPECT_EQ(twelve.OutLines()[2].substr(0, 9), "   750000");
    EXPECT_NE(twelve.OutLines()[0].find("12.00 MHz"), std::string::npos);
}

TEST(CliWrite, ClockOutsideTheChipsRangesFailsItsInquiry) {
    TempDir dir;
    WriteFile(dir.Sub("fw.mot"), MakeSrec(Pattern(32)));
    // 16.00 MHz is a rate-wise fine clock, but 16 x 4 is beyond the chip's
    // 50 MHz system clock.
    RunResult r = RunWriter({"write", dir.Sub("fw.mot"), "--clock", "16", Sim(dir.Sub("flash.bin"))}, kLimit);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.OutLines().back(), "cpu not answer 8: system clock 64.00 MHz (16.00 MHz x 4) outside the chip's 8.00 to 50.00 MHz");
    EXPECT_EQ(r.out.find("get ack 9"), std::string::npos);
}

TEST(CliWrite, ProgramsAtANonStandardRateThroughTheTtyBackend) {
    // 390,625 bit/s, the chip's rate for 390,600, has no termios constant:
    // the tty backend sets it through termios2, and the board on the pty
    // reads it back from the line.
    TempDir dir;
    const std::string data = Pattern(3000);
    WriteFile(dir.Sub("fw.mot"), MakeSrec(data));
    Background board({"sim", "--pty", dir.Sub("link"), Sim(dir.Sub("flash.bin"))});
    ASSERT_TRUE(WaitForPath(dir.Sub("link"), 10)) << "the board's link did not appear";

    RunResult r = RunWriter(
        {"write", dir.Sub("fw.mot"), "--port", dir.Sub("link"), "--rate", "390600"}, kLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(InOrder(r.OutLines(), kGoodWrite));
    EXPECT_EQ(r.OutLines().back(), "written at 390600 bit/s: 24 blocks sent, 0 skipped");
    EXPECT_EQ(board.Stop(), 0);
    ExpectFlashHolds(dir.Sub("flash.bin"), data);
}
