// `write FILE`: programs an S-record, Intel HEX or (with --format bin) raw
// binary file, as FWRITE does, with the file read
// and checked before anything touches the converter.
//
// The link options are checked first (a bad --sim option is a usage error).
// FILE is then read completely with the reader of the window's transfer: a
// file that cannot be read (its reason on standard error, after the file's
// name), or that the reader refuses (its message and the Sound beep, as in
// the window, and on standard error the message after the file's name), ends
// the command with exit status 2 before a provider is installed or a
// converter opened, so the simulated board's flash file is not even opened.
// Only then the link is set up and connected as the start-up does; a
// converter that did not open ends the command with exit status 1. The write
// command runs with the checked image in place of the file dialog
// (TransferCheckedImage shows the messages of the file choice and the reading
// as the window does), and the exit status follows its outcome.
//
// --rate and --clock are checked together with the link options
// (bootmode/BitRate.h): a rate that is not usable with the clock is a usage
// error, named with the nearest usable rates. Without either the write is the
// window's, at 38400 bit/s with the converter at 38400; with one of them the
// converter follows the chip's real rate and the clock is checked against the
// chip's inquiry replies. --rate fastest tries the usable rates from the
// highest down (cli/RatedWrite.h). After a good write with one of the new
// options a last line names the rate and the blocks sent and skipped.
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"
#include "cli/RatedWrite.h"

#include "bootmode/BitRate.h"
#include "bootmode/WriteCommand.h"
#include "image/FlashImage.h"
#include "image/ImageReader.h"
#include "image/TransferImage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Why `path` could not be read, in the system's words.
std::string ReadFailure(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return std::strerror(errno);
    char c;
    ssize_t n = ::read(fd, &c, 1);
    const int err = errno;
    ::close(fd);
    return n < 0 ? std::strerror(err) : "cannot be read";
}

ConsoleForm::Verbosity VerbosityOf(const CliArgs& args) {
    if (args.quiet) return ConsoleForm::Verbosity::Quiet;
    if (args.verbose) return ConsoleForm::Verbosity::Verbose;
    return ConsoleForm::Verbosity::Normal;
}

}  // namespace

int ExitStatusOf(const WriteOutcome& outcome) {
    switch (outcome.result) {
    case WriteResult::Done: return kExitOk;
    case WriteResult::FileRefused: return kExitUsage;
    case WriteResult::Cancelled:
    case WriteResult::TargetFailed:
    case WriteResult::LinkFailed:
    case WriteResult::Busy: break;
    }
    return kExitFailure;
}

int RunWrite(const CliArgs& args) {
    LinkChoice link = args.link;
    if (int status = CheckLink(link); status != kLinkReady) return status;

    ClockSetup clock;
    clock.inputUnits = args.clockUnits;
    const bool planned = args.rateGiven || args.clockGiven;
    std::vector<RatePlan> plans;  // the rates to try, in order; empty: the window's
    if (args.rateFastest) {
        plans = UsableRates(clock);
        if (plans.empty()) {
            std::fprintf(stderr, "h8sxwriter: no bit rate is usable with a %.2f MHz clock\n", clock.inputUnits / 100.0);
            return kExitUsage;
        }
    } else if (planned) {
        const RatePlan plan = PlanRate(args.rateGiven ? args.rate : proto::kWriteBitRate, clock);
        if (!plan.usable) {
            std::fprintf(stderr, "h8sxwriter: %s\n", RateRefusal(plan, clock).c_str());
            return kExitUsage;
        }
        plans.push_back(plan);
    }

    ConsoleForm form(VerbosityOf(args));
    // On a terminal the messages share one line, as on the window's status
    // line; in a pipe or a file every message keeps a line of its own.
    form.SetStatusOnOneLine(::isatty(STDOUT_FILENO) == 1);
    FlashImage image;
    ImageReadOptions options;
    options.format = args.format;
    options.binaryAddress = args.address;
    const ReadResult read = ReadImageFile(args.file, image, options);
    if (read.outcome == ReadOutcome::CannotOpen) {
        std::fprintf(stderr, "h8sxwriter: %s: %s\n", args.file.c_str(), ReadFailure(args.file).c_str());
        return kExitUsage;
    }
    if (!read.Accepted()) {
        // The status line as the window shows it, and on standard error the
        // refusal with the file's name.
        form.ShowStatus(read.message);
        std::fprintf(stderr, "h8sxwriter: %s: %s\n", args.file.c_str(), read.message.c_str());
        form.SoundBeep();
        form.Finish();
        return kExitUsage;
    }

    if (int status = InstallLink(link); status != kLinkReady) return status;
    if (!ConnectAsStartUp(form)) {
        form.Finish();
        return ExitStatusOf(WriteOutcome::Of(WriteResult::LinkFailed));
    }

    form.SetProgressBytes(image.ImageLength);
    ProgramOptions programming;
    programming.skipBlank = args.skipBlank;
    const TransferStep transfer = [&](FormCore& f) { return TransferCheckedImage(f, image, read, programming); };
    const WriteOutcome outcome = plans.empty() ? Button1Click(form, transfer)
                                               : WriteAtRates(form, transfer, plans, clock, args.rateFastest);
    form.Finish();
    // What the new options did, on a line of its own after the messages.
    if (outcome.Done() && (planned || args.skipBlank) && !args.quiet) {
        std::printf("written at %u bit/s: %u blocks sent, %u skipped\n", outcome.bitRate, outcome.blocksSent,
                    outcome.blocksSkipped);
        std::fflush(stdout);
    }
    return ExitStatusOf(outcome);
}
