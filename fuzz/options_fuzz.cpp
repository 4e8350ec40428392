// Fuzz target for the command line's parsers: the simulated board's options
// (--sim=KEY=VALUE,...), the command line's grammar and the window's link
// options.
//
// The input is split at its zero bytes into arguments. Each argument is read
// as a --sim option text; all of them together are the command line behind
// "h8sxwriter" (for the command line's parser, for the check of its link and
// for the window's link options). Checked: nothing crashes, every refusal
// comes with a message and every acceptance without one, and accepted board
// options lie within the ranges the board relies on.
#include "cli/CliArgs.h"
#include "session/LinkChoice.h"
#include "sim/SimOptions.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "options_fuzz: %s\n", what);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

bool IsDuration(int64_t micros) { return micros >= 0 && micros <= 3600LL * 1000000; }

void CheckBoardOptions(const SimOptions& o) {
    Check(o.flashSize > 0 && o.flashSize % 128 == 0 && o.flashSize <= 16u << 20, "flash size out of range");
    Check(IsDuration(o.startupMicros) && IsDuration(o.bannerDelayMicros) && IsDuration(o.eraseMicros) &&
              IsDuration(o.programMicros),
          "a duration out of range");
    Check(o.syncZeros >= 1 && o.syncZeros <= 255, "sync-zeros out of range");
    Check(!o.productName.empty() && o.productName.size() <= 64, "product name of a bad length");
    for (char c : o.productName) Check(c >= 0x20 && c <= 0x7E, "product name not printable");
    Check(o.errorCommand == -1 || (o.errorCommand >= 0 && o.errorCommand <= kSimEndCommand),
          "error command out of range");
    Check(o.errorCode >= -1 && o.errorCode <= 0xFF, "error code out of range");
    Check(o.garbleCommand == -1 || (o.garbleCommand >= 0 && o.garbleCommand <= kSimEndCommand),
          "garble command out of range");
    Check(o.unplugAfter >= -1, "unplug-after out of range");
    Check(o.crystalUnits >= 100 && o.crystalUnits <= 10000, "clock out of range");
    Check(IsDuration(o.latencyMicros), "latency out of range");
    Check(o.corruptAddress < static_cast<int64_t>(o.flashSize), "corrupt address outside the flash");
    Check(o.corruptValue >= -1 && o.corruptValue <= 0xFF, "corrupt value out of range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args = {"h8sxwriter"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    args.push_back(current);

    // Each argument as the board's option text.
    for (size_t i = 1; i < args.size(); ++i) {
        SimOptions options;
        std::string error;
        if (ParseSimOptions(args[i], &options, &error)) {
            Check(error.empty(), "accepted board options with a message");
            CheckBoardOptions(options);
        } else {
            Check(!error.empty(), "refused board options without a message");
        }
    }

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());

    // The command line.
    const CliArgs cli = ParseCliArgs(argc, argv.data());
    Check(cli.ok == cli.error.empty(), "a command line refused without a message, or accepted with one");
    if (cli.ok && !cli.help && !cli.version) {
        LinkChoice link = cli.link;
        std::string error;
        if (CheckLinkChoice(link, &error)) {
            Check(error.empty(), "a link accepted with a message");
            if (link.kind == LinkChoice::Kind::Sim) CheckBoardOptions(link.sim);
        } else {
            Check(!error.empty(), "a link refused without a message");
        }
        Check(cli.command != CliCommand::Sim || !cli.ptyLink.empty(), "sim accepted without a link");
        Check(!(cli.verbose && cli.quiet), "both --verbose and --quiet accepted");
    }
    (void)LooksLikeCliCommand(argc, argv.data());

    // The window's link options.
    LinkChoice choice;
    std::string error;
    if (ParseLinkOptions(argc, argv.data(), &choice, &error)) {
        Check(error.empty(), "link options accepted with a message");
        if (choice.kind == LinkChoice::Kind::Sim) CheckBoardOptions(choice.sim);
        if (choice.kind == LinkChoice::Kind::Port) Check(!choice.port.empty(), "--port accepted without a path");
    } else {
        Check(!error.empty(), "link options refused without a message");
    }
    return 0;
}
