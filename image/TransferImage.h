// The transfer phase of a write: file choice, reading the file (S-records or
// Intel HEX, chosen by its content) into the flash image, block programming and the end command.
//
// TransferImage shows "select write file" and asks the host for a file; a
// cancel returns Cancelled at once. Otherwise it resets the progress bar,
// shows "file is transing,," and reads the file (image/ImageReader.h),
// running one pass of the message pump every kRecordsPerPumpPass data
// records. A file that cannot be opened returns FileRefused without a
// message; a refused file shows its message with the Sound beep and nothing is
// sent to the target. An accepted file shows its format text ("S1 file
// format", ..., "HEX file format") and is programmed by ProgramImage (image/ProgramImage.h),
// whose outcome is the transfer's. The file is closed before programming
// begins.
//
// TransferCheckedImage is the same phase for an image that was read and
// checked before the write began (the command line's): the same messages in
// the same order, with the earlier reading's result in place of the file
// choice and the read.
#pragma once

#include "core/WriteOutcome.h"
#include "image/ProgramImage.h"

#include <cstdint>

class FlashImage;
class FormCore;
struct ReadResult;

// The largest image in records of 16 bytes has about 61,000 records and
// reads in a few milliseconds, without a pass of the pump (each pass may wait
// up to a tick for an event). Files of many more, shorter records keep the
// windows alive.
constexpr uint32_t kRecordsPerPumpPass = 65536;

WriteOutcome TransferImage(FormCore& form);
WriteOutcome TransferCheckedImage(FormCore& form, const FlashImage& image, const ReadResult& read,
                                  const ProgramOptions& options = ProgramOptions{});
