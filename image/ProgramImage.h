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
// - With skipBlank, a block whose 128 bytes are all 0xFF is not sent (the
//   chip has just erased the area); the last block, which carries the start
//   of the trailer, is always sent. Skipped blocks move the bar as sent ones
//   do, and the status texts alternate over the blocks sent.
// - The outcome counts the blocks sent and skipped, and marks a failure as
//   rateSuspect when it looks like a bit rate the two ends do not share: a
//   reply that is neither 0x06 nor a well-formed error reply (0xD0 and a
//   code the chip gives to programming), or an error reply for a checksum.
#pragma once

#include "core/WriteOutcome.h"
#include "image/FlashImage.h"

class FormCore;

struct ProgramOptions {
    bool skipBlank = false;
};

WriteOutcome ProgramImage(FormCore& form, const FlashImage& image, const ProgramOptions& options = ProgramOptions{});
