// The commands end to end, through the real executable on real time. The
// simulated board is given a small erase time and small files, so a whole
// write takes about a second.
#include "CliFiles.h"

#include "sim/UserProgram.h"
#include "support/StageMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// What a good write prints before programming: the start-up's connection,
// then the adjustment and the boot-mode stages.
std::vector<std::string> GoodWrite() {
    std::vector<std::string> all = {"Serial Number Read Success!", "USB Serial Number Open Success!"};
    for (const std::string& m : GoodWriteMessages()) all.push_back(m);
    return all;
}
const std::vector<std::string> kGoodWrite = GoodWrite();

// The last status message of a write: the line before its summary line.
std::string LastMessage(const RunResult& r) {
    const std::vector<std::string> lines = r.OutLines();
    if (lines.size() < 2 || lines.back().rfind("summary: ", 0) != 0) return "(no summary line)";
    return lines[lines.size() - 2];
}

// `s` as a JSON string, for the plain characters and quotes of test paths.
std::string JsonQuoted(const std::string& s) {
    std::string j = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') j += '\\';
        j += c;
    }
    return j + "\"";
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
    EXPECT_EQ(LastMessage(r), "FLASH ROM write correct done!");
    EXPECT_EQ(r.OutLines().back().rfind("summary: 300 bytes, 3 blocks sent, 38400 bit/s, ", 0), 0u)
        << r.OutLines().back();
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
        EXPECT_EQ(LastMessage(r), c.lastMessage) << c.fault;
    }
}

TEST(CliWrite, JsonPrintsOneObjectInsteadOfTheMessages) {
    TempDir dir;
    WriteFile(dir.Sub("fw.mot"), MakeSrec(Pattern(300)));
    WriteFile(dir.Sub("bad \"name\".mot"), "S1130000GG\nS9030000FC\n");
    struct Case {
        std::string file;
        std::string fault;
        int status;
        std::vector<std::string> fields;
    };
    const Case cases[] = {
        {dir.Sub("fw.mot"),
         "",
         0,
         {"\"outcome\":\"done\",\"stage\":null,\"message\":\"FLASH ROM write correct done!\",\"exit\":0,"
          "\"image_bytes\":300,\"blocks_sent\":3,",
          "\"board\":\"running-new-program\",\"programmed_to\":300}"}},
        {dir.Sub("fw.mot"),
         "no-reply-block=2",
         1,
         {"\"outcome\":\"target-failed\",\"stage\":13,\"message\":\"time out err1\",\"exit\":1,", "\"blocks_sent\":2,",
          "\"board\":\"restarted-partial\",\"programmed_to\":128}"}},
        {dir.Sub("fw.mot"),
         "no-e6",
         1,
         {"\"outcome\":\"target-failed\",\"stage\":2,\"message\":\"cpu not answer 2\"", "\"bit_rate\":null,",
          "\"board\":\"boot-mode-kept\""}},
        {dir.Sub("bad \"name\".mot"),
         "",
         2,
         {"{\"file\":" + JsonQuoted(dir.Sub("bad \"name\".mot")),
          "\"outcome\":\"file-refused\",\"stage\":null,\"message\":\"file format err line 1\",\"exit\":2,",
          "\"board\":\"untouched\""}},
        {dir.Sub("missing.mot"),
         "",
         2,
         {"\"outcome\":\"file-refused\",\"stage\":null,\"message\":\"No such file or directory\",\"exit\":2,"}},
    };
    for (const Case& c : cases) {
        RunResult r = RunWriter({"write", "--json", c.file, Sim(dir.Sub("flash.bin"), c.fault)}, kLimit);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        ASSERT_EQ(r.OutLines().size(), 1u) << r.out;
        EXPECT_EQ(r.out.front(), '{');
        for (const std::string& f : c.fields) EXPECT_NE(r.out.find(f), std::string::npos) << f << "\nin " << r.out;
    }
}

TEST(CliWrite, RefusedFileExitsWithTwoBeforeTouchingTheBoard) {
    TempDir dir;
    const std::string good = MakeSrec(Pattern(32));
    std::string badChecksum = good;
    badChecksum[badChecksum.find('\n') - 1] ^= 1;  // the first record's checksum
    WriteFile(dir.Sub("bad-sum.mot"), badChecksum);
    WriteFile(dir.Sub("bad-digit.mot"), "S1130000GG\nS9030000FC\n");
    // Files that would only erase the board.
    WriteFile(dir.Sub("end-only.mot"), "S9030000FC\n");
    WriteFile(dir.Sub("header-only.mot"), "S00600004844521B\nS5030000FC\nS9030000FC\n");
    WriteFile(dir.Sub("empty-record.mot"), "S1030100FB\nS9030000FC\n");

    const std::string kNoData = "file holds no data: nothing written ('h8sxwriter erase' erases the flash)\n";

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
        {dir.Sub("end-only.mot"), dir.Sub("kept.bin"), "", "h8sxwriter: " + dir.Sub("end-only.mot") + ": " + kNoData},
        {dir.Sub("header-only.mot"), dir.Sub("new.bin"), "",
         "h8sxwriter: " + dir.Sub("header-only.mot") + ": " + kNoData},
        {dir.Sub("empty-record.mot"), dir.Sub("new.bin"), "",
         "h8sxwriter: " + dir.Sub("empty-record.mot") + ": " + kNoData},
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

// The verify before the final restart decides the exit status: a weak cell
// of the board's flash fails both modes, and the read-back names its address.
TEST(CliWrite, VerifyPassesOrNamesTheFault) {
    TempDir dir;
    const std::string data = Pattern(700);
    WriteFile(dir.Sub("fw.mot"), MakeSrec(data));
    struct Case {
        const char* option;
        const char* fault;  // a --sim key, or ""
        int status;
        std::string last;     // the verify's message, or its start
        std::string summary;  // what the summary line says of the verify, or its start
    };
    const Case cases[] = {
        {"--verify", "", 0, "verify OK, 768 bytes compared", "verify OK (read, 768 bytes)"},
        {"--verify=read", "corrupt=0x100", 1, "verify failed at 0x00000100: expected 0x01, read 0x00",
         "verify FAILED (read, at 0x00000100: expected 0x01, read 0x00), verify-failed at stage 15; board: restarted "
         "into the image just written, which failed its verify"},
        {"--verify=sum", "", 0, "verify OK, sum 0x", "verify OK (sum, sum 0x"},
        {"--verify=sum", "corrupt=0x100:80", 1, "verify failed: user area sum 0x",
         "verify FAILED (sum: expected sum 0x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.fault);
        const std::string flash = dir.Sub("flash.bin");
        RunResult r = RunWriter({"write", dir.Sub("fw.mot"), c.option, Sim(flash, c.fault)}, kLimit);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_TRUE(InOrder(r.OutLines(), kGoodWrite));
        // The verify's message, then the summary line.
        const std::vector<std::string> lines = r.OutLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2].rfind(c.last, 0), 0u) << lines[lines.size() - 2];
        EXPECT_EQ(lines.back().rfind("summary: ", 0), 0u) << lines.back();
        EXPECT_NE(lines.back().find(", " + c.summary), std::string::npos) << lines.back();
    }
    // --json carries the same: the outcome, the address and both bytes.
    RunResult json = RunWriter(
        {"write", dir.Sub("fw.mot"), "--verify", "--json", Sim(dir.Sub("json.bin"), "corrupt=0x100")}, kLimit);
    EXPECT_EQ(json.status, 1) << json.out << json.err;
    for (const char* field : {"\"outcome\":\"verify-failed\"", "\"stage\":15", "\"mode\":\"read\",\"ok\":false",
                              "\"address\":256,\"expected\":1,\"actual\":0", "\"board\":\"restarted-verify-failed\""})
        EXPECT_NE(json.out.find(field), std::string::npos) << field << "\n" << json.out;
    // The flash was written and left as it is for the board's program.
    std::string corrupted = data;
    corrupted[0x100] = '\x80';
    ExpectFlashHolds(dir.Sub("flash.bin"), corrupted);
}

TEST(CliErase, LeavesTheFlashBlankAndChecksIt) {
    TempDir dir;
    WriteFile(dir.Sub("fw.mot"), MakeSrec(Pattern(300)));
    ASSERT_EQ(RunWriter({"write", dir.Sub("fw.mot"), Sim(dir.Sub("flash.bin"))}, kLimit).status, 0);

    RunResult r = RunWriter({"erase", Sim(dir.Sub("flash.bin"))}, kLimit);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(InOrder(r.OutLines(), {"USB Serial Number Open Success!", "FLASH ROM Erase complete! 11",
                                       "boot mat select done 12", "blank check OK, the flash is erased"}));
    EXPECT_EQ(r.out.find("File -> cpu board"), std::string::npos);
    const std::string flash = ReadFile(dir.Sub("flash.bin"));
    EXPECT_EQ(flash.size(), 64u * 1024);
    EXPECT_EQ(flash.find_first_not_of('\xFF'), std::string::npos);

    RunResult failed = RunWriter({"erase", "-q", Sim(dir.Sub("flash.bin"), "error=4D:11")}, kLimit);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.OutLines(),
              std::vector<std::string>{"blank check failed: error reply 0xCD 0x11 (checksum error)"});
}

TEST(CliUsage, UsageErrorsExitWithTwoAndHelpWithZero) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* text;  // expected in the stream below
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
        {{"erase", "--help"}, 0, "Usage: h8sxwriter erase", true},
        {{"write", "x.mot", "--verify=twice"}, 2, "bad value for --verify", false},
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
    struct Case {
        std::string path, err;
    };
    for (const Case& c :
         {Case{"/dev/null", "h8sxwriter: /dev/null: not a serial port (a character device of class mem)\n"},
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

    RunResult r = RunWriter({"write", dir.Sub("fw.mot"), "--port", dir.Sub("link"), "--verify"}, kLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(InOrder(r.OutLines(), kGoodWrite));
    const std::vector<std::string> lines = r.OutLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "verify OK, 256 bytes compared");
    EXPECT_EQ(board.Stop(), 0);
    ExpectFlashHolds(dir.Sub("flash.bin"), data);

    // The erase, on a board started anew on that flash (a pty has no reset
    // line, so only a new board starts in boot mode).
    Background again({"sim", "--pty", dir.Sub("link2"), Sim(dir.Sub("flash.bin"))});
    ASSERT_TRUE(WaitForPath(dir.Sub("link2"), 10));
    RunResult erase = RunWriter({"erase", "--port", dir.Sub("link2")}, kLimit);
    EXPECT_EQ(erase.status, 0) << erase.out << erase.err;
    ASSERT_FALSE(erase.OutLines().empty());
    EXPECT_EQ(erase.OutLines().back(), "blank check OK, the flash is erased");
    EXPECT_EQ(again.Stop(), 0);
    EXPECT_EQ(ReadFile(dir.Sub("flash.bin")).find_first_not_of('\xFF'), std::string::npos);
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
    EXPECT_EQ(LastMessage(r),
              "cpu not answer 8: system clock 64.00 MHz (16.00 MHz x 4) outside the chip's 8.00 to 50.00 MHz");
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

    RunResult r = RunWriter({"write", dir.Sub("fw.mot"), "--port", dir.Sub("link"), "--rate", "390600"}, kLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(InOrder(r.OutLines(), kGoodWrite));
    EXPECT_EQ(LastMessage(r), "FLASH ROM write correct done!");
    EXPECT_EQ(r.OutLines().back().rfind("summary: 3000 bytes, 24 blocks sent, 390600 bit/s, ", 0), 0u) << r.out;
    EXPECT_EQ(board.Stop(), 0);
    ExpectFlashHolds(dir.Sub("flash.bin"), data);
}
