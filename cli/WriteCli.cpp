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
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"
#include "cli/WriteSummary.h"

#include "bootmode/WriteCommand.h"
#include "image/FlashImage.h"
#include "image/ProgramImage.h"
#include "image/SRecordReader.h"
#include "protocol/Protocol.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kWriteDone = "FLASH ROM write correct done!";

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
    if (args.json) return ConsoleForm::Verbosity::Silent;
    if (args.quiet) return ConsoleForm::Verbosity::Quiet;
    if (args.verbose) return ConsoleForm::Verbosity::Verbose;
    return ConsoleForm::Verbosity::Normal;
}

// How far the write came, from the messages it showed: enough to tell what
// the board holds when it stops.
struct Milestones {
    bool eraseStarted = false;
    bool erased = false;
    bool rateSet = false;
    bool programming = false;
    std::optional<int> failedStage;

    void See(const std::string& text) {
        if (text == "FLASH ROM Ereasing,,,") eraseStarted = true;
        else if (text == "FLASH ROM Erase complete! 11") erased = true;
        else if (text == "get ack 10") rateSet = true;
        else if (text == "File -> cpu board") programming = true;
        if (auto stage = FailedStage(text)) failedStage = stage;
    }

    // The stage a failure message belongs to: the boot-mode stages name
    // their number, programming is the stage after them.
    static std::optional<int> FailedStage(const std::string& text) {
        if (text == "not H8SX1622") return 3;
        if (text == "time out err1" || text == "response err" || text == "write err") return 13;
        static const char* const kFailures[] = {"cpu not answer ", "clock mode err ", "teibai err ",
                                                "new bps rate err ", "Erase err ", "boot mat select false "};
        for (const char* prefix : kFailures) {
            const size_t n = std::strlen(prefix);
            if (text.compare(0, n, prefix) == 0 && text.size() > n) return std::atoi(text.c_str() + n);
        }
        return std::nullopt;
    }
};

// What the board holds after a write that did not end with its new program.
// `restarted`: the write's final restart ran (after a failed transfer).
BoardState BoardAfter(const Milestones& m, bool restarted) {
    if (m.programming) return restarted ? BoardState::RestartedPartial : BoardState::BootModePartial;
    if (m.erased) return BoardState::BootModeErased;
    if (m.eraseStarted) return BoardState::BootModeErasing;
    return BoardState::BootModeKept;
}

std::string PortOf(const CliArgs& args, const ConsoleForm& form) {
    switch (args.link.kind) {
        case LinkArgs::Kind::Port: return args.link.port;
        case LinkArgs::Kind::Sim: return "sim";
        case LinkArgs::Kind::Scan: break;
    }
    return form.SerialShown();
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

int RunWrite(const CliArgs& args) {
    // 1. The link options.
    std::string error;
    if (!CheckLink(args.link, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        return kExitUsage;
    }

    // 2. The file.
    ConsoleForm form(VerbosityOf(args));
    form.SetEventOutput(args.progressFd);
    WriteSummary summary;
    summary.file = args.file;
    if (args.link.kind != LinkArgs::Kind::Scan) summary.port = PortOf(args, form);
    summary.board = BoardState::Untouched;
    FlashImage image;
    const ReadResult read = ReadSRecordFile(args.file, image);
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
        form.ShowStatus(read.message);
        form.SoundBeep();
        summary.end = WriteEnd::FileRefused;
        summary.exitStatus = kExitUsage;
        return Report(args, form, summary);
    }
    summary.imageBytes = image.ImageLength;

    // 3. The converter.
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    if (!InstallLink(args.link, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        summary.end = WriteEnd::LinkFailed;
        summary.message = error;
        return Report(args, form, summary);
    }
    if (!ConnectAsStartUp(form)) {
        summary.end = WriteEnd::LinkFailed;
        summary.elapsedSeconds = elapsed();
        summary.port = PortOf(args, form);
        return Report(args, form, summary);
    }
    summary.port = PortOf(args, form);

    // 4. The write.
    Milestones milestones;
    form.SetStatusObserver([&](const std::string& text) { milestones.See(text); });
    form.SetImagePath(args.file);
    form.SetProgressBytes(image.ImageLength);
    form.SetTransfer([&] {
        // The window's stages of the file choice and the reading, with FILE
        // as the choice and the image read in step 2 as its result.
        form.ShowStatus("select write file");
        form.SetProgressPosition(0);
        form.ShowStatus("file is transing,,");
        form.ShowStatus(read.endText);
        ProgramImage(form, image);
    });
    Button1Click(form);
    form.SetStatusObserver(nullptr);

    summary.elapsedSeconds = elapsed();
    summary.blocksSent = form.BlocksAcknowledged();
    if (milestones.rateSet) summary.bitRate = proto::kWriteBitRate;
    if (milestones.programming)
        summary.programmedTo = static_cast<uint32_t>(summary.blocksSent * proto::kBlockSize);
    if (form.LastStatusText() == kWriteDone) {
        summary.end = WriteEnd::Done;
        summary.exitStatus = kExitOk;
        summary.board = BoardState::RunningNewProgram;
    } else {
        summary.end = WriteEnd::TargetFailed;
        summary.stage = milestones.failedStage;
        summary.exitStatus = kExitFailure;
        summary.board = BoardAfter(milestones, true);
    }
    return Report(args, form, summary);
}
