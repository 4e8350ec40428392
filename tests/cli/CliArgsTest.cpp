#include "cli/CliArgs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs the parser on words as a shell would pass them (argv[0] added).
struct Argv {
    std::vector<std::string> words;
    std::vector<char*> ptrs;
    explicit Argv(std::vector<std::string> w) : words(std::move(w)) {
        words.insert(words.begin(), "h8sxwriter");
        for (auto& s : words) ptrs.push_back(s.data());
        ptrs.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
    char** argv() { return ptrs.data(); }
};

CliArgs Parse(std::vector<std::string> words) {
    Argv a(std::move(words));
    return ParseCliArgs(a.argc(), a.argv());
}

}  // namespace

TEST(CliArgs, AcceptsEveryCommandWithItsOptions) {
    CliArgs w = Parse({"write", "fw.mot", "--sim=flash=/tmp/f.bin,erase=0.1", "--verbose"});
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.command, CliCommand::Write);
    EXPECT_EQ(w.file, "fw.mot");
    EXPECT_EQ(w.link.kind, LinkChoice::Kind::Sim);
    EXPECT_EQ(w.link.simOptions, "flash=/tmp/f.bin,erase=0.1");
    EXPECT_TRUE(w.verbose);

    // Link options may come first, and --port takes its value either way.
    CliArgs p = Parse({"--port", "/dev/ttyUSB0", "write", "-q", "fw.mot"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.link.kind, LinkChoice::Kind::Port);
    EXPECT_EQ(p.link.port, "/dev/ttyUSB0");
    EXPECT_EQ(p.file, "fw.mot");
    EXPECT_TRUE(p.quiet);
    EXPECT_EQ(Parse({"write", "x.mot", "--port=/tmp/link"}).link.port, "/tmp/link");

    // A gang write: the link option repeated, each one board, in order.
    CliArgs g = Parse({"write", "fw.mot", "--port", "/dev/a", "--port=/dev/b", "--json"});
    ASSERT_TRUE(g.ok) << g.error;
    ASSERT_EQ(g.boards.size(), 2u);
    EXPECT_EQ(g.boards[0].port, "/dev/a");
    EXPECT_EQ(g.boards[1].port, "/dev/b");
    EXPECT_EQ(g.link.port, "/dev/a");
    CliArgs gs = Parse({"--sim=silent", "write", "fw.mot", "--sim"});
    ASSERT_TRUE(gs.ok) << gs.error;
    ASSERT_EQ(gs.boards.size(), 2u);
    EXPECT_EQ(gs.boards[0].simOptions, "silent");
    EXPECT_EQ(gs.boards[1].simOptions, "");
    EXPECT_TRUE(Parse({"write", "fw.mot", "--all"}).all);
    EXPECT_EQ(Parse({"write", "fw.mot", "--sim", "--progress-fd", "3"}).progressFd, 3);

    // A file name that looks like an option, after "--".
    CliArgs dash = Parse({"write", "--sim", "--", "-odd.mot"});
    ASSERT_TRUE(dash.ok) << dash.error;
    EXPECT_EQ(dash.file, "-odd.mot");

    // The file's format: by content unless named; a binary's address.
    EXPECT_EQ(w.format, ImageFormat::Detect);
    EXPECT_EQ(Parse({"write", "fw.mot", "--format", "hex"}).format, ImageFormat::IntelHex);
    EXPECT_EQ(Parse({"write", "fw.hex", "--format=srec"}).format, ImageFormat::SRecord);
    for (auto [text, address] :
         {std::pair<const char*, uint32_t>{"0x1000", 0x1000}, {"4096", 4096}, {"0XFFFFFFFF", 0xFFFFFFFF}, {"0", 0}}) {
        CliArgs b = Parse({"write", "fw.bin", "--format", "bin", "--address", text});
        ASSERT_TRUE(b.ok) << text << ": " << b.error;
        EXPECT_EQ(b.format, ImageFormat::Binary);
        EXPECT_EQ(b.address, address) << text;
    }
    EXPECT_EQ(Parse({"write", "fw.bin", "--format", "bin"}).address, 0u);

    CliArgs m = Parse({"monitor", "--reset", "--seconds", "2.5", "--sim"});
    ASSERT_TRUE(m.ok) << m.error;
    EXPECT_EQ(m.command, CliCommand::Monitor);
    EXPECT_TRUE(m.reset);
    EXPECT_DOUBLE_EQ(m.seconds, 2.5);
    EXPECT_EQ(m.link.kind, LinkChoice::Kind::Sim);
    EXPECT_EQ(m.link.simOptions, "");
    EXPECT_LT(Parse({"monitor"}).seconds, 0);
    EXPECT_EQ(Parse({"monitor"}).enter, "\r");
    for (auto [value, enter] : {std::pair<const char*, const char*>{"cr", "\r"}, {"lf", "\n"}, {"crlf", "\r\n"}}) {
        EXPECT_EQ(Parse({"monitor", "--eol", value}).enter, enter) << value;
        EXPECT_EQ(Parse({"monitor", std::string("--eol=") + value}).enter, enter) << value;
    }

    // --verify alone means read-back; its value only after '='.
    EXPECT_EQ(Parse({"write", "fw.mot"}).verify, "");
    CliArgs v = Parse({"write", "--verify", "fw.mot"});
    ASSERT_TRUE(v.ok) << v.error;
    EXPECT_EQ(v.verify, "read");
    EXPECT_EQ(v.file, "fw.mot");
    EXPECT_EQ(Parse({"write", "fw.mot", "--verify=sum"}).verify, "sum");
    EXPECT_EQ(Parse({"write", "fw.mot", "--verify=read"}).verify, "read");

    CliArgs e = Parse({"--sim", "erase", "-q"});
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_EQ(e.command, CliCommand::Erase);
    EXPECT_TRUE(e.quiet);

    EXPECT_EQ(Parse({"reset"}).link.kind, LinkChoice::Kind::Scan);
    EXPECT_EQ(Parse({"list", "--sim"}).command, CliCommand::List);

    CliArgs s = Parse({"sim", "--pty", "/tmp/link", "--sim=silent"});
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(s.command, CliCommand::Sim);
    EXPECT_EQ(s.ptyLink, "/tmp/link");
    EXPECT_EQ(s.link.simOptions, "silent");
}

TEST(CliArgs, RefusesWhatDoesNotFit) {
    struct Case {
        std::vector<std::string> words;
        const char* why;  // a part of the message
    };
    const Case cases[] = {
        {{"flash"}, "unknown command 'flash'"},
        {{"write"}, "needs a FILE"},
        {{"write", "a.mot", "b.mot"}, "unexpected argument 'b.mot'"},
        {{"write", "a.mot", "--bogus"}, "unknown option '--bogus' for write"},
        {{"write", "a.mot", "--reset"}, "unknown option '--reset' for write"},
        {{"write", "a.mot", "--port"}, "--port needs an argument"},
        {{"write", "a.mot", "--port="}, "--port needs an argument"},
        {{"write", "a.mot", "--port", "x", "--sim"}, "exclude each other"},
        {{"monitor", "--sim", "--sim=silent"}, "--sim given twice"},
        {{"write", "a.mot", "--all", "--port", "x"}, "--all excludes --port and --sim"},
        {{"write", "a.mot", "--sim", "--sim", "--progress-fd=3"}, "--progress-fd takes one board"},
        {{"write", "a.mot", "-v", "-q"}, "exclude each other"},
        {{"write", "a.mot", "--verbose=yes"}, "unknown option"},
        {{"write", "a.mot", "--verify=all"}, "bad value for --verify: 'all'"},
        {{"write", "a.mot", "--verify="}, "bad value for --verify: ''"},
        {{"erase", "a.mot"}, "unexpected argument 'a.mot' for erase"},
        {{"erase", "--verify"}, "unknown option '--verify' for erase"},
        {{"write", "a.mot", "--json", "-q"}, "--json excludes --verbose and --quiet"},
        {{"list", "--json"}, "unknown option '--json' for list"},
        {{"erase", "--json"}, "unknown option '--json' for erase"},
        {{"write", "a.mot", "--format", "elf"}, "bad value for --format: 'elf'"},
        {{"write", "a.mot", "--format"}, "--format needs an argument"},
        {{"write", "a.bin", "--address", "0x100"}, "--address needs --format bin"},
        {{"write", "a.bin", "--format", "hex", "--address", "0"}, "--address needs --format bin"},
        {{"write", "a.bin", "--format", "bin", "--address", "0x1_0000"}, "bad value for --address"},
        {{"write", "a.bin", "--format", "bin", "--address", "0x100000000"}, "bad value for --address"},
        {{"write", "a.bin", "--format", "bin", "--address", "-1"}, "bad value for --address"},
        {{"monitor", "--format", "hex"}, "unknown option '--format' for monitor"},
        {{"monitor", "--seconds"}, "--seconds needs an argument"},
        {{"monitor", "--seconds", "soon"}, "bad value for --seconds"},
        {{"monitor", "--seconds", "-1"}, "bad value for --seconds"},
        {{"monitor", "extra"}, "unexpected argument 'extra' for monitor"},
        {{"monitor", "--eol", "nl"}, "bad value for --eol: 'nl'"},
        {{"monitor", "--eol"}, "--eol needs an argument"},
        {{"write", "a.mot", "--eol", "lf"}, "unknown option '--eol'"},
        {{"list", "--verbose"}, "unknown option '--verbose' for list"},
        {{"sim"}, "sim needs --pty LINK"},
        {{"sim", "--pty"}, "--pty needs an argument"},
        {{"sim", "--pty", "l", "--port", "/dev/ttyUSB0"}, "unknown option '--port' for sim"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
    };
    for (const Case& c : cases) {
        CliArgs a = Parse(c.words);
        EXPECT_FALSE(a.ok) << c.words[0];
        EXPECT_NE(a.error.find(c.why), std::string::npos) << "got: " << a.error;
    }
}

TEST(CliArgs, HelpWinsOverOtherErrorsButNotOverAnUnknownCommand) {
    CliArgs h = Parse({"write", "--help"});  // no FILE, still help
    EXPECT_TRUE(h.ok);
    EXPECT_TRUE(h.help);
    EXPECT_EQ(h.command, CliCommand::Write);
    CliArgs top = Parse({"-h"});
    EXPECT_TRUE(top.ok && top.help);
    EXPECT_EQ(top.command, CliCommand::None);
    EXPECT_TRUE(Parse({"sim", "--bogus", "--help"}).help);
    EXPECT_FALSE(Parse({"flash", "--help"}).ok);
    EXPECT_TRUE(Parse({"--version"}).version);
}

TEST(CliArgs, LeavesOnlyTheWindowsOwnArgumentsToTheWindow) {
    struct Case {
        std::vector<std::string> words;
        bool cli;
    };
    const Case cases[] = {
        {{}, false},
        {{"--sim"}, false},
        {{"--sim=flash=/tmp/x"}, false},
        {{"--port", "/dev/pts/3"}, false},
        {{"--port=/dev/pts/3"}, false},
        {{"-platform", "offscreen"}, false},  // the toolkit's
        {{"write", "x.mot"}, true},
        {{"--sim", "monitor"}, true},
        {{"--port", "/dev/x", "list"}, true},
        {{"bogus"}, true},
        {{"--help"}, true},
        {{"-h"}, true},
        {{"--version"}, true},
        {{"--bogus"}, true},
        {{"--port"}, true},  // missing value: a usage error, not a window
        {{"--port="}, true},
    };
    for (const Case& c : cases) {
        Argv a(c.words);
        EXPECT_EQ(LooksLikeCliCommand(a.argc(), a.argv()), c.cli) << (c.words.empty() ? "" : c.words[0]);
    }
}

TEST(CliArgs, RateClockAndSkipBlank) {
    CliArgs w = Parse({"write", "fw.mot", "--rate", "390600", "--clock=12.00", "--skip-blank", "--sim"});
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_TRUE(w.rateGiven);
    EXPECT_FALSE(w.rateFastest);
    EXPECT_EQ(w.rate, 390600u);
    EXPECT_TRUE(w.clockGiven);
    EXPECT_EQ(w.clockUnits, 1200);
    EXPECT_TRUE(w.skipBlank);
    EXPECT_EQ(w.file, "fw.mot");

    CliArgs f = Parse({"--rate=fastest", "write", "fw.mot"});
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_TRUE(f.rateFastest);
    CliArgs d = Parse({"write", "fw.mot"});
    EXPECT_FALSE(d.rateGiven || d.clockGiven || d.skipBlank);
    EXPECT_EQ(d.clockUnits, 1250);

    CliArgs r = Parse({"rates", "--clock", "12.5"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.command, CliCommand::Rates);
    EXPECT_EQ(r.clockUnits, 1250);
    EXPECT_EQ(Parse({"rates", "--clock", "8"}).clockUnits, 800);
    EXPECT_EQ(Parse({"rates", "--clock", "655.35"}).clockUnits, 65535);

    const std::vector<std::vector<std::string>> bad = {
        {"write", "f.mot", "--rate", "fast"},
        {"write", "f.mot", "--rate", "-5"},
        {"write", "f.mot", "--rate", "0"},
        {"write", "f.mot", "--rate", "38400.5"},
        {"write", "f.mot", "--rate"},
        {"write", "f.mot", "--rate", "1", "--rate", "2"},
        {"write", "f.mot", "--clock", "12.345"},
        {"write", "f.mot", "--clock", "0"},
        {"write", "f.mot", "--clock", "655.36"},
        {"write", "f.mot", "--clock", "1e3"},
        {"write", "f.mot", "--skip-blank=1"},
        {"rates", "--sim"},
        {"rates", "--rate", "38400"},
        {"monitor", "--rate", "38400"},
        {"monitor", "--skip-blank"},
        {"rates", "extra"},
    };
    for (const auto& words : bad) {
        CliArgs a = Parse(words);
        EXPECT_FALSE(a.ok) << testing::PrintToString(words);
    }
}
