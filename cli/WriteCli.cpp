// `write FILE`: programs an S-record file, as FWRITE does, with the file read
// and checked before anything touches the converter.
//
// 1. Check the link options (a bad --sim option is a usage error).
// 2. Read FILE completely with the reader of the window's transfer. A file
//    that cannot be read, or that the reader refuses (its message and the
//    Sound beep, as in the window), ends the command with exit status 2: no provider is installed, no converter opened, and the
//    simulated board's flash file is not even opened. So does a file whose
//    records hold no data byte (an end record alone): writing it would only
//    erase the flash.
// 3. Install the provider and connect as the start-up does; a converter that
//    did not open ends the command with exit status 1.
// 4. Run the write command with the checked image in place of the file
//    dialog: the transfer shows the window's messages of the file choice and
//    the reading ("select write file", "file is transing,,", the file's
//    end-record text) and programs the image. With --verify, once the end of
//    programming is acknowledged and before the final restart, the flash is
//    checked against the image (bootmode/FlashVerify.h). Exit status 0 only when
//    the write ended with the success message and the verify, if asked for,
//    passed.
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"

#include "bootmode/FlashVerify.h"
#include "bootmode/WriteCommand.h"
#include "image/FlashImage.h"
#include "image/ProgramImage.h"
#include "image/SRecordReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kWriteDone = "FLASH ROM write correct done!";
constexpr const char* kNoData = "file holds no data: nothing written ('h8sxwriter erase' erases the flash)";

VerifyMode VerifyModeOf(const CliArgs& args) {
    if (args.verify == "read") return VerifyMode::Read;
    if (args.verify == "sum") return VerifyMode::Sum;
    return VerifyMode::None;
}

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
    // 1. The link options.
    std::string error;
    if (!CheckLink(args.link, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        return kExitUsage;
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
    if (read.dataBytes == 0) {
        form.ShowStatus(kNoData);
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

    // 4. The write.
    const VerifyMode mode = VerifyModeOf(args);
    bool written = false;
    VerifyResult verify;  // filled only when asked for
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
        if (form.LastStatusText() != kWriteDone) return;
        written = true;
        if (mode == VerifyMode::None) return;
        form.SetProgressLabel("verifying");
        form.SetProgressBytes(image.ProgrammedEnd());
        verify = VerifyFlash(form, image.Bytes(), image.ProgrammedEnd(), mode);
    });
    Button1Click(form);
    form.Finish();
    return written && (mode == VerifyMode::None || verify.passed) ? kExitOk : kExitFailure;
}
