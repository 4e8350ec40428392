// Gang writes end to end: several simulated boards written by one command,
// each by a child process of the real executable, on real time. The boards
// get a short erase and small files so that a run takes a few seconds; the
// tests assert outcomes, never durations (bench/gang_bench.sh measures).
#include "CliFiles.h"

#include "cli/JsonValue.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

// The boards' --sim options, one per flash file, `faults[k]` added to board k.
std::vector<std::string> Boards(const TempDir& dir, const std::vector<std::string>& faults,
                                const std::string& common = "") {
    std::vector<std::string> args;
    for (size_t k = 0; k < faults.size(); ++k) {
        std::string more = common;
        if (!faults[k].empty()) more += (more.empty() ? "" : ",") + faults[k];
        args.push_back(Sim(dir.Sub("flash" + std::to_string(k + 1) + ".bin"), more));
    }
    return args;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The array of summaries a gang write prints with --json.
std::vector<JsonValue> Summaries(const std::string& out) {
    JsonValue v;
    if (!ParseJson(out, &v) || v.type != JsonValue::Type::Array) {
        ADD_FAILURE() << "not a JSON array:\n" << out;
        return {};
    }
    return v.array;
}

}  // namespace

TEST(GangWrite, EveryBoardIsWrittenAndTheFaultyOneReportsItsStage) {
    TempDir dir;
    const std::string data = Pattern(700);
    WriteFile(dir.Sub("fw.mot"), MakeSrec(data));
    const std::vector<std::string> boards = Boards(dir, {"", "", "no-reply-block=3", ""});

    RunResult r = RunWriter(Concat({"write", dir.Sub("fw.mot"), "--json"}, boards), kLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::vector<JsonValue> all = Summaries(r.out);
    ASSERT_EQ(all.size(), 4u) << r.out;
    for (size_t k = 0; k < all.size(); ++k) {
        const JsonValue& s = all[k];
        EXPECT_EQ(s.String("port"), "sim" + std::to_string(k + 1));
        EXPECT_EQ(s.String("file"), dir.Sub("fw.mot"));
        if (k == 2) {
            EXPECT_EQ(s.String("outcome"), "target-failed");
            EXPECT_EQ(s.Number("stage"), 13);
            EXPECT_EQ(s.String("message"), "time out err1");
            EXPECT_EQ(s.Number("blocks_sent"), 3);  // the third got no reply
            EXPECT_EQ(s.Number("exit"), 1);
        } else {
            EXPECT_EQ(s.String("outcome"), "done") << k;
            EXPECT_EQ(s.Number("exit"), 0);
            ExpectFlashHolds(dir.Sub("flash" + std::to_string(k + 1) + ".bin"), data);
        }
    }

    // Not on a terminal: one line per board as it ends, then the count.
    RunResult plain = RunWriter(Concat({"write", dir.Sub("fw.mot")}, boards), kLimit);
    EXPECT_EQ(plain.status, 1) << plain.out << plain.err;
    const std::vector<std::string> lines = plain.OutLines();
    ASSERT_EQ(lines.size(), 5u) << plain.out;
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) { return l.rfind("sim", 0) == 0 && l.find(": done (") != l.npos; }),
        3)
        << plain.out;
    EXPECT_NE(plain.out.find("sim3: target-failed at stage 13 (time out err1)"), std::string::npos) << plain.out;
    EXPECT_EQ(lines.back().rfind("gang: 3 of 4 boards done, ", 0), 0u) << plain.out;
}

// --verify reaches every board: a weak cell on one of them fails its verify
// alone, and the gang's exit status with it.
TEST(GangWrite, EachBoardVerifiesAndAFailedVerifyFailsTheGang) {
    TempDir dir;
    WriteFile(dir.Sub("fw.mot"), MakeSrec(Pattern(700)));
    const std::vector<std::string> boards = Boards(dir, {"", "corrupt=0x100"});

    RunResult r = RunWriter(Concat({"write", dir.Sub("fw.mot"), "--verify", "--json"}, boards), kLimit);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::vector<JsonValue> all = Summaries(r.out);
    ASSERT_EQ(all.size(), 2u) << r.out;
    EXPECT_EQ(all[0].String("outcome"), "done");
    EXPECT_EQ(all[1].String("outcome"), "verify-failed");
    EXPECT_EQ(all[1].String("board"), "restarted-verify-failed");
    for (size_t k = 0; k < 2; ++k) {
        const JsonValue* verify = all[k].Get("verify");
        ASSERT_TRUE(verify && verify->type == JsonValue::Type::Object) << r.out;
        EXPECT_EQ(verify->String("mode"), "read");
        EXPECT_EQ(verify->Bool("ok"), k == 0);
    }
    EXPECT_EQ(all[1].Get("verify")->Number("address"), 0x100);
}

TEST(GangWrite, FileAndUsageErrorsExitWithTwoBeforeAnyBoardIsTouched) {
    TempDir dir;
    WriteFile(dir.Sub("bad.mot"), "S1130000GG\nS9030000FC\n");
    WriteFile(dir.Sub("fw.mot"), MakeSrec(Pattern(64)));
    struct Case {
        std::vector<std::string> args;
        std::string text;  // on standard output or error
    };
    const Case cases[] = {
        {Concat({"write", dir.Sub("bad.mot")}, Boards(dir, {"", ""})), "file format err line 1"},
        {Concat({"write", dir.Sub("missing.mot")}, Boards(dir, {"", ""})), "No such file or directory"},
        {Concat({"write", dir.Sub("bad.mot"), "--json"}, Boards(dir, {"", ""})),
         "\"port\":\"sim2\",\"outcome\":\"file-refused\",\"stage\":null,\"message\":\"file format err line "
         "1\",\"exit\":2"},
        {{"write", dir.Sub("fw.mot"), Sim(dir.Sub("same.bin")), Sim(dir.Sub("same.bin"))}, "share the flash file"},
        {Concat({"write", dir.Sub("fw.mot")}, Boards(dir, {"", "nosuchkey"})), "nosuchkey"},
    };
    for (const Case& c : cases) {
        RunResult r = RunWriter(c.args, kLimit);
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.text), std::string::npos)
            << c.text << "\nout: " << r.out << "\nerr: " << r.err;
        EXPECT_EQ(r.out.find("Success"), std::string::npos) << r.out;
    }
    // No child opened a board: no flash file was made.
    for (const char* f : {"flash1.bin", "flash2.bin", "same.bin"}) {
        bool exists = true;
        ReadFile(dir.Sub(f), &exists);
        EXPECT_FALSE(exists) << f;
    }
}

TEST(GangWrite, SigintStopsEveryBoardCleanlyAndReportsItsState) {
    TempDir dir;
    WriteFile(dir.Sub("fw.mot"), MakeSrec(Pattern(700)));
    // A long erase, so that the signal finds the boards inside the write.
    struct Case {
        std::vector<std::string> args;
        size_t boards;
    };
    const Case cases[] = {
        {Concat({"write", dir.Sub("fw.mot"), "--json"}, Boards(dir, {"erase-time=20s"})), 1},
        {Concat({"write", dir.Sub("fw.mot"), "--json"}, Boards(dir, {"erase-time=20s", "erase-time=20s"})), 2},
    };
    for (const Case& c : cases) {
        for (size_t k = 1; k <= 2; ++k) std::remove(dir.Sub("flash" + std::to_string(k) + ".bin").c_str());
        RunResult r = RunWriterWhile(c.args, kLimit, [&](pid_t pid) {
            // Each board's flash file appears when its write connects.
            for (size_t k = 1; k <= c.boards; ++k) WaitForPath(dir.Sub("flash" + std::to_string(k) + ".bin"), 10);
            kill(pid, SIGINT);
        });
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 130) << r.out << r.err;
        std::vector<JsonValue> all;
        if (c.boards == 1) {
            all.resize(1);
            ASSERT_TRUE(ParseJson(r.out, &all[0])) << r.out;
        } else {
            all = Summaries(r.out);
        }
        ASSERT_EQ(all.size(), c.boards) << r.out;
        for (const JsonValue& s : all) {
            EXPECT_EQ(s.String("outcome"), "interrupted") << r.out;
            EXPECT_EQ(s.String("message"), "interrupted by SIGINT");
            EXPECT_EQ(s.Number("exit"), 130);
            // Left in boot mode (or not yet touched, when the signal came
            // first), never restarted into a partial image.
            const std::string board = s.String("board").value_or("");
            EXPECT_TRUE(board == "untouched" || board.rfind("boot-mode-", 0) == 0) << r.out;
        }
    }

    // Without --json the write says so and what the board holds.
    RunResult r =
        RunWriterWhile({"write", dir.Sub("fw.mot"), Boards(dir, {"erase-time=20s"})[0]}, kLimit, [&](pid_t pid) {
            std::remove(dir.Sub("flash1.bin").c_str());
            WaitForPath(dir.Sub("flash1.bin"), 10);
            kill(pid, SIGTERM);
        });
    EXPECT_EQ(r.status, 143) << r.out << r.err;
    EXPECT_NE(r.out.find("\nwrite interrupted by SIGTERM; the board is "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("restarted"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nsummary: 700 bytes, 0 blocks sent, "), std::string::npos) << r.out;
}
