// What a write left the target with, told from its outcome: for the summary
// of the command line and for the word the window leaves on standard error
// when it is closed during a write.
//
// Contract
// - BoardStateAfter follows the write command (bootmode/WriteCommand.h): a
//   failed boot-mode stage leaves the target in boot mode (before the erase
//   with its flash kept, at the erase possibly partly erased, after it
//   erased); a failed programming is followed by the restart into what was
//   programmed, and so is a failed verify; a stopped write stays in boot
//   mode whatever it had reached (during the verify: with the whole image
//   programmed); nothing reaches the target when the link or the file failed
//   first.
// - DescribeBoard says it in a sentence with what recovers the board.
#pragma once

#include "core/WriteOutcome.h"

#include <cstdint>
#include <optional>
#include <string>

enum class BoardState {
    Untouched,              // nothing was sent to it
    BootModeKept,           // in boot mode, its flash not yet erased (the old program is still there)
    BootModeErasing,        // in boot mode, stopped during or at the erase: the flash may be partly erased
    BootModeErased,         // in boot mode, the flash erased
    BootModePartial,        // in boot mode, the image programmed below `programmedTo`
    RestartedPartial,       // restarted into an image programmed only below `programmedTo`
    RestartedErased,        // restarted with its flash erased (the file choice was cancelled)
    RunningNewProgram,      // restarted into the image just written
    BootModeProgrammed,     // in boot mode, the whole image programmed, stopped before its verify finished
    RestartedVerifyFailed,  // restarted into the image just written, which failed its verify
    Unknown,
};

BoardState BoardStateAfter(const WriteOutcome& outcome);

// "untouched", "boot-mode-kept", "boot-mode-erasing", "boot-mode-erased",
// "boot-mode-partial", "restarted-partial", "restarted-erased",
// "running-new-program", "boot-mode-programmed", "restarted-verify-failed",
// "unknown".
const char* BoardStateName(BoardState state);
// A sentence for people: "in boot mode, its flash erased; the next write
// recovers it ('h8sxwriter reset' only leaves boot mode)".
std::string DescribeBoard(BoardState state, std::optional<uint32_t> programmedTo);
