// `write FILE`: programs an S-record file, as FWRITE does, with the file read
// and checked before anything touches the converter.
//
// 1. Check the link options (a bad --sim option is a usage error).
// 2. Read FILE completely with the reader of the window's transfer. A file
//    that cannot be read, or that the reader refuses (its message and the
//    Sound beep, as in the window), ends the command with exit status 2: no provider is installed, no converter opened, and the
//    simulated board's flash file is not even opened.
// 3. Install the provider and connect as the start-up does; a converter that
//    did not open ends the command with exit status 1.
// 4. Run the write command with the checked image in place of the file
//    dialog: the transfer shows the window's messages of the file choice and
//    the reading ("select write file", "file is transing,,", the file's
//    end-record text) and programs the image. Exit status 0 only when the
//    write ended with the success message.
//
// --rate and --clock are checked in step 1 too (bootmode/BitRate.h): a rate
// that is not usable with the clock is a usage error, named with the nearest
// usable rates. Without either the write is the window's, at 38400 bit/s
// with the converter at 38400; with one of them the converter follows the
// chip's real rate and the clock is checked against the chip's inquiry
// replies. --rate fastest tries the usable rates from the highest down: when
// the confirmation at the new rate fails, or programming meets a garbled
// reply or a checksum error, it says so and writes again, from the restart,
// at the next rate.
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"
#include "cli/RatedWrite.h"

#include "bootmode/BitRate.h"
#include "bootmode/WriteCommand.h"
#include "image/FlashImage.h"
#include "image/ProgramImage.h"
#include "image/SRecordReader.h"

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

int RunWrite(const CliArgs& args) {
    // 1. The link options, the rate and the clock.
    std::string error;
    if (!CheckLink(args.link, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        return kExitUsage;
    }
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

    // 2. The file.
    ConsoleForm form(VerbosityOf(args));
    FlashImage image;
    const ReadResult read = ReadSRecordFile(args.file, image);
    if (read.outcome == ReadOutcome::CannotOpen) {
        std::fprintf(stderr, "h8sxwriter: %s: %s\n", args.file.c_str(), ReadFailure(args.file).c_str());
        return kExitUsage;
    }
    if (!read.Accepted()) {
        form.ShowStatus(read.message);
        form.SoundBeep();
        form.Finish();
        return kExitUsage;
    }

    // 3. The converter.
    if (!InstallLink(args.link, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!ConnectAsStartUp(form)) {
        form.Finish();
        return kExitFailure;
    }

    // 4. The write, once per rate until one works.
    ProgramOptions options;
    options.skipBlank = args.skipBlank;
    ProgramStats stats;
    form.SetImagePath(args.file);
    form.SetProgressBytes(image.ImageLength);
    form.SetTransfer([&] {
        // The window's stages of the file choice and the reading, with FILE
        // as the choice and the image read in step 2 as its result.
        form.ShowStatus("select write file");
        form.SetProgressPosition(0);
        form.ShowStatus("file is transing,,");
        form.ShowStatus(read.endText);
        ProgramImage(form, image, options, &stats);
    });
    uint32_t rateUsed = proto::kWriteBitRate;
    if (plans.empty()) {
        Button1Click(form);
    } else {
        rateUsed = WriteAtRates(form, plans, clock, args.rateFastest, stats).bitRate;
    }
    form.Finish();
    // What the new options did, on a line of its own after the messages.
    if (stats.done && (planned || args.skipBlank) && !args.quiet) {
        std::printf("written at %u bit/s: %u blocks sent, %u skipped\n", rateUsed, stats.blocksSent,
                    stats.blocksSkipped);
        std::fflush(stdout);
    }
    return stats.done ? kExitOk : kExitFailure;
}
