// The transfer phase of a write: file choice, S-record reading into the flash
// image, block programming and the end command.
//
// TransferImage shows "select write file" and asks the host for a file; a
// cancel returns at once. Otherwise it resets the progress bar, shows
// "file is transing,," and reads the file (image/SRecordReader.h). A file that
// cannot be opened returns without a message; a refused file shows its
// message with the Sound beep and nothing is sent to the target. An accepted
// file shows its end-record text ("S1 file format", ...) and is programmed by
// ProgramImage (image/ProgramImage.h). The file is closed before programming
// begins.
#pragma once

class FormCore;

void TransferImage(FormCore& form);
