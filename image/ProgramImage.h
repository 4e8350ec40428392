// The programming phase of a write: sends a FlashImage to the target's boot
// program in 128-byte programming commands, each acknowledged before the
// next, then the end-of-programming command, and reports the outcome.
//
// Contract
// - The target has erased its flash and selected the user area, and waits
//   for programming commands on DeviceHandle.
// - Blocks go out from offsets 0, 128, 256, ... while the offset is below
//   ImageLength; the last one carries the start of the trailer.
// - Status line: "File -> cpu board", then for each acknowledged block
//   "rssponse OK" and eleven spaces in turn (the first block shows
//   "rssponse OK"), then "FLASH ROM write correct done!" (with the Sound beep)
//   or one of "time out err1", "response err", "write err". After a failed
//   block nothing more is sent.
// - The outcome is Done after the success message, otherwise TargetFailed with
//   the stage Programming (a block) or EndProgramming and the message shown.
// - The progress bar runs from 0 to its maximum in proportion to the bytes
//   programmed and reaches the maximum when the last block is acknowledged.
// - No reply read takes more than the 256-byte reply buffer; what is left
//   waiting is purged before the next command.
#pragma once

#include "core/WriteOutcome.h"
#include "image/FlashImage.h"

class FormCore;

WriteOutcome ProgramImage(FormCore& form, const FlashImage& image);
