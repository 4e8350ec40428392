#include "image/TransferImage.h"

#include "app/FormCore.h"
#include "image/FlashImage.h"
#include "image/ProgramImage.h"
#include "image/ImageReader.h"

#include <chrono>
#include <memory>
#include <string>

namespace {

// Reading a full image takes milliseconds, but one pass of the pump may wait
// for the next event, so the windows are serviced between records only once
// this much real time has gone by.
constexpr std::chrono::milliseconds kPumpInterval{50};

}  // namespace

void TransferImage(FormCore& form) {
    // 1. The file choice.
    form.ShowStatus("select write file");
    std::string path;
    if (!form.ChooseImageFile(path)) return;
    form.SetProgressPosition(0);
    form.ShowStatus("file is transing,,");

    // 2. Read the whole file before anything is sent.
    auto image = std::make_unique<FlashImage>();
    auto lastPump = std::chrono::steady_clock::now();
    ImageReadOptions options;  // the format is the file's content
    options.perRecord = [&] {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPump < kPumpInterval) return;
        form.ProcessMessages();
        lastPump = std::chrono::steady_clock::now();
    };
    const ReadResult read = ReadImageFile(path, *image, options);
    if (read.outcome == ReadOutcome::CannotOpen) return;
    if (!read.Accepted()) {
        form.ShowStatus(read.message);
        form.SoundBeep();
        return;
    }
    form.ShowStatus(read.endText);

    // 3. Program it.
    ProgramImage(form, *image);
}
