#include "image/TransferImage.h"

#include "core/FormCore.h"
#include "image/FlashImage.h"
#include "image/ImageReader.h"
#include "image/ProgramImage.h"

#include <memory>
#include <string>

namespace {

void BeginReading(FormCore& form) {
    form.SetProgressPosition(0);
    form.ShowStatus("file is transing,,");
}

// Reports the reading's result and programs an accepted image.
WriteOutcome ProgramRead(FormCore& form, const ReadResult& read, const FlashImage& image,
                         const ProgramOptions& options = ProgramOptions{}) {
    if (read.outcome == ReadOutcome::CannotOpen) return WriteOutcome::Of(WriteResult::FileRefused);
    if (!read.Accepted()) {
        form.ShowStatus(read.message);
        form.SoundBeep();
        return WriteOutcome::Of(WriteResult::FileRefused, read.message);
    }
    form.ShowStatus(read.endText);
    return ProgramImage(form, image, options);
}

}  // namespace

WriteOutcome TransferImage(FormCore& form) {
    form.ShowStatus("select write file");
    std::string path;
    if (!form.ChooseImageFile(path)) return WriteOutcome::Of(WriteResult::Cancelled);
    BeginReading(form);

    // The whole file is read before anything is sent.
    auto image = std::make_unique<FlashImage>();
    uint32_t records = 0;
    ImageReadOptions options;  // the format is the file's content
    options.perRecord = [&] {
        if (++records % kRecordsPerPumpPass == 0) form.ProcessMessages();
    };
    const ReadResult read = ReadImageFile(path, *image, options);
    return ProgramRead(form, read, *image);
}

WriteOutcome TransferCheckedImage(FormCore& form, const FlashImage& image, const ReadResult& read,
                                  const ProgramOptions& options) {
    form.ShowStatus("select write file");
    BeginReading(form);
    return ProgramRead(form, read, image, options);
}
