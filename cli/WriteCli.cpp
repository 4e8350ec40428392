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
// So does a file whose records hold no data byte (an end record alone), with
// its refusal on standard error: writing it would only erase the flash.
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
// highest down (cli/RatedWrite.h).
//
// With --verify, once the end of programming is acknowledged and before the
// final restart, the flash is checked against the image (bootmode/FlashVerify.h):
// the whole programmed range, blocks skipped with --skip-blank included. Exit
// status 0 only when the write ended with the success message and the verify,
// if asked for, passed.
//
// The summary of the write ends the output: a line, or with --json the one
// JSON object that replaces the messages. It names the rate, the blocks sent
// and skipped, and the verify's result; a verify that a stop cut short has
// none, and the board's state says that the image is programmed but not
// verified.
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"
#include "cli/RatedWrite.h"
#include "cli/StopSignals.h"
#include "cli/WriteSummary.h"

#include "bootmode/BitRate.h"
#include "bootmode/FlashVerify.h"
#include "bootmode/WriteCommand.h"
#include "image/FlashImage.h"
#include "image/ImageReader.h"
#include "image/TransferImage.h"
#include "protocol/Protocol.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kNoData = "file holds no data: nothing written ('h8sxwriter erase' erases the flash)";

VerifyMode VerifyModeOf(const CliArgs& args) {
    if (args.verify == "read") return VerifyMode::Read;
    if (args.verify == "sum") return VerifyMode::Sum;
    return VerifyMode::None;
}

// The verify's result for the summary: the bytes compared, and the address
// and bytes of a difference or the two sums, as far as the verify got them.
VerifySummary VerifySummaryOf(const VerifyResult& v) {
    VerifySummary s;
    s.mode = v.mode == VerifyMode::Sum ? "sum" : "read";
    s.ok = v.passed;
    s.message = v.message;
    if (v.mode == VerifyMode::Read) {
        s.bytesCompared = v.bytesCompared;
        if (v.mismatch) {
            s.address = v.address;
            s.expectedByte = v.expectedByte;
            s.actualByte = v.actualByte;
        }
    } else if (v.passed || v.mismatch) {
        s.expectedSum = v.expectedSum;
        s.actualSum = v.actualSum;
    }
    return s;
}

std::string PortOf(const LinkChoice& link, const ConsoleForm& form) {
    switch (link.kind) {
    case LinkChoice::Kind::Port: return link.port;
    case LinkChoice::Kind::Sim: return "sim";
    case LinkChoice::Kind::Scan: break;
    }
    return form.SerialShown();
}

WriteEnd EndOf(WriteResult result) {
    switch (result) {
    case WriteResult::Done: return WriteEnd::Done;
    case WriteResult::Cancelled: return WriteEnd::Cancelled;
    case WriteResult::FileRefused: return WriteEnd::FileRefused;
    case WriteResult::LinkFailed: return WriteEnd::LinkFailed;
    case WriteResult::Interrupted: return WriteEnd::Interrupted;
    case WriteResult::VerifyFailed: return WriteEnd::VerifyFailed;
    case WriteResult::TargetFailed:
    case WriteResult::Busy: break;
    }
    return WriteEnd::TargetFailed;
}

// The end of the command: the summary (a line, or the JSON object) and the
// exit status.
int Report(const CliArgs& args, ConsoleForm& form, WriteSummary& s) {
    form.Finish();
    if (s.message.empty()) s.message = form.LastStatusText();
    if (args.json) {
        std::printf("%s\n", SummaryJson(s).c_str());
    } else if (!args.quiet && s.end != WriteEnd::FileRefused) {
        std::printf("%s\n", SummaryLine(s).c_str());
    }
    std::fflush(stdout);
    return s.exitStatus;
}

}  // namespace

int ExitStatusOf(const WriteOutcome& outcome) {
    switch (outcome.result) {
    case WriteResult::Done: return kExitOk;
    case WriteResult::FileRefused: return kExitUsage;
    case WriteResult::Cancelled:
    case WriteResult::TargetFailed:
    case WriteResult::VerifyFailed:
    case WriteResult::LinkFailed:
    case WriteResult::Busy:
    case WriteResult::Interrupted: break;
    }
    return kExitFailure;
}

std::string ReadFailure(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return std::strerror(errno);
    char c;
    ssize_t n = ::read(fd, &c, 1);
    const int err = errno;
    ::close(fd);
    return n < 0 ? std::strerror(err) : "cannot be read";
}

ImageReadOptions ImageReadOptionsOf(const CliArgs& args) {
    ImageReadOptions options;
    options.format = args.format;
    options.binaryAddress = args.address;
    return options;
}

ConsoleForm::Verbosity VerbosityOf(const CliArgs& args) {
    if (args.json) return ConsoleForm::Verbosity::Silent;
    if (args.quiet) return ConsoleForm::Verbosity::Quiet;
    if (args.verbose) return ConsoleForm::Verbosity::Verbose;
    return ConsoleForm::Verbosity::Normal;
}

int PlanWriteRates(const CliArgs& args, ClockSetup* clock, std::vector<RatePlan>* plans) {
    clock->inputUnits = args.clockUnits;
    if (args.rateFastest) {
        *plans = UsableRates(*clock);
        if (plans->empty()) {
            std::fprintf(stderr, "h8sxwriter: no bit rate is usable with a %.2f MHz clock\n",
                         clock->inputUnits / 100.0);
            return kExitUsage;
        }
    } else if (args.rateGiven || args.clockGiven) {
        const RatePlan plan = PlanRate(args.rateGiven ? args.rate : proto::kWriteBitRate, *clock);
        if (!plan.usable) {
            std::fprintf(stderr, "h8sxwriter: %s\n", RateRefusal(plan, *clock).c_str());
            return kExitUsage;
        }
        plans->push_back(plan);
    }
    return kLinkReady;
}

int RunWrite(const CliArgs& args) {
    LinkChoice link = args.link;
    if (int status = CheckLink(link); status != kLinkReady) return status;

    ClockSetup clock;
    std::vector<RatePlan> plans;  // the rates to try, in order; empty: the window's
    if (int status = PlanWriteRates(args, &clock, &plans); status != kLinkReady) return status;

    // SIGINT, SIGTERM and SIGHUP stop the write at its next safe point
    // instead of killing it mid-frame; the board stays in boot mode.
    StopSignals stopSignals;
    ConsoleForm form(VerbosityOf(args));
    // On a terminal the messages share one line, as on the window's status
    // line; in a pipe or a file every message keeps a line of its own.
    form.SetStatusOnOneLine(::isatty(STDOUT_FILENO) == 1);
    form.SetEventOutput(args.progressFd);
    form.StopOnSignals(true);
    WriteSummary summary;
    summary.file = args.file;
    if (link.kind != LinkChoice::Kind::Scan) summary.port = PortOf(link, form);
    summary.board = BoardState::Untouched;

    FlashImage image;
    const ReadResult read = ReadImageFile(args.file, image, ImageReadOptionsOf(args));
    if (read.outcome == ReadOutcome::CannotOpen) {
        const std::string why = ReadFailure(args.file);
        if (!args.json) {
            std::fprintf(stderr, "h8sxwriter: %s: %s\n", args.file.c_str(), why.c_str());
            return kExitUsage;
        }
        summary.end = WriteEnd::FileRefused;
        summary.message = why;
        summary.exitStatus = kExitUsage;
        return Report(args, form, summary);
    }
    if (!read.Accepted()) {
        // The status line as the window shows it, and on standard error the
        // refusal with the file's name.
        form.ShowStatus(read.message);
        std::fprintf(stderr, "h8sxwriter: %s: %s\n", args.file.c_str(), read.message.c_str());
        form.SoundBeep();
        summary.end = WriteEnd::FileRefused;
        summary.exitStatus = kExitUsage;
        return Report(args, form, summary);
    }
    summary.imageBytes = image.ImageLength;
    if (read.dataBytes == 0) {
        if (!args.json) std::fprintf(stderr, "h8sxwriter: %s: %s\n", args.file.c_str(), kNoData);
        form.SoundBeep();
        summary.end = WriteEnd::FileRefused;
        summary.message = kNoData;
        summary.exitStatus = kExitUsage;
        return Report(args, form, summary);
    }

    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    if (int status = InstallLink(link); status != kLinkReady) {
        summary.end = WriteEnd::LinkFailed;
        summary.message = "the link could not be set up";
        summary.exitStatus = status;
        return Report(args, form, summary);
    }
    if (!ConnectAsStartUp(form)) {
        summary.end = WriteEnd::LinkFailed;
        summary.elapsedSeconds = elapsed();
        summary.port = PortOf(link, form);
        summary.exitStatus = ExitStatusOf(WriteOutcome::Of(WriteResult::LinkFailed));
        return Report(args, form, summary);
    }
    summary.port = PortOf(link, form);

    const VerifyMode mode = VerifyModeOf(args);
    const uint32_t end = image.ProgrammedEnd();
    form.SetProgressBytes(image.ImageLength);
    form.CheckStop();  // a signal during the connection: the write does not begin
    ProgramOptions programming;
    programming.skipBlank = args.skipBlank;
    const TransferStep transfer = [&](FormCore& f) {
        const WriteOutcome written = TransferCheckedImage(f, image, read, programming);
        if (written.Done() && mode != VerifyMode::None) {
            // The verify's own bar, over the range it compares.
            form.SetProgressLabel("verifying");
            form.SetProgressBytes(mode == VerifyMode::Read ? end : 0);
        }
        return VerifyAfterWrite(f, written, image.Bytes(), end, mode);
    };
    const WriteOutcome outcome =
        plans.empty() ? Button1Click(form, transfer) : WriteAtRates(form, transfer, plans, clock, args.rateFastest);

    summary.elapsedSeconds = elapsed();
    summary.end = EndOf(outcome.result);
    summary.exitStatus = ExitStatusOf(outcome);
    summary.message = outcome.message;
    summary.blocksSent = outcome.blocksSent;
    if (args.skipBlank) summary.blocksSkipped = outcome.blocksSkipped;
    const WriteStage stage = outcome.stage;
    if (outcome.bitRate != 0 && (outcome.Done() || stage > WriteStage::NewBitRateConfirm))
        summary.bitRate = outcome.bitRate;
    if (!outcome.Done() && stage != WriteStage::None) summary.stage = static_cast<int>(stage);
    if (outcome.Done())
        summary.programmedTo = image.ImageLength;
    else if (stage >= WriteStage::Programming)
        summary.programmedTo = outcome.programmedTo;
    summary.board = BoardStateAfter(outcome);
    if (outcome.verify.mode != VerifyMode::None && !outcome.verify.stopped &&
        outcome.result != WriteResult::Interrupted)
        summary.verify = VerifySummaryOf(outcome.verify);
    if (outcome.result == WriteResult::Interrupted) {
        const int signal = form.StopSignal();
        summary.exitStatus = ExitStatusOfSignal(signal);
        summary.message = "interrupted by " + StopSignalName(signal);
        form.ReportStop("write " + summary.message + "; the board is " +
                        DescribeBoard(summary.board, summary.programmedTo));
    }
    return Report(args, form, summary);
}
