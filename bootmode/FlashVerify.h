// The check after a write that the target's flash holds what was meant to be
// there, and the blank check after an erase.
//
// What is expected: `expected[0]` to `expected[end - 1]` from address 0 up,
// and the erased 0xFF everywhere else. After a write that range is the image's
// programmed range (FlashImage::ProgrammedEnd): the image and, in its last
// block, the start of the trailer. A block inside it that was not sent (all
// 0xFF) reads 0xFF as well, so the range compares alike either way.
//
// Contract
// - The target is in the programming/erasing state (after the end-of-
//   programming command was acknowledged) and talks on DeviceHandle.
// - Read: the expected range is read back in memory reads of up to
//   kVerifyChunk bytes from address 0 up and compared byte for byte; the
//   first difference ends the verify. The progress bar runs from 0 to its
//   maximum over the range.
// - Sum: the user area's extent (0x25), then its sum (0x4B), compared with the
//   sum of the expected bytes over every area. An expected range that the
//   areas do not cover fails.
// - A wrong or missing reply ends the verify as a failure naming the command
//   and the fault. Each verify shows one status message at its start and
//   its outcome (VerifyResult::message) at its end.
// - A stop (form.StopRequested) is honoured between the commands: the one in
//   flight is answered first, none follows, and the result is `stopped`, not
//   passed, with no outcome shown.
#pragma once

#include "bootmode/AreaCommands.h"
#include "core/WriteOutcome.h"

#include <cstdint>
#include <string>
#include <vector>

class FormCore;

// The bytes one memory read of the read-back asks for.
constexpr uint32_t kVerifyChunk = 1024;

// The 32-bit byte-wise sum of the areas when they hold `expected` below `end`
// and 0xFF elsewhere.
uint32_t ExpectedSum(const uint8_t* expected, uint32_t end, const std::vector<FlashArea>& areas);

// `bitRate`: the rate the link runs at (the programming's), for the waits.
VerifyResult VerifyByReading(FormCore& form, const uint8_t* expected, uint32_t end,
                             uint32_t bitRate = proto::kWriteBitRate);
VerifyResult VerifyBySum(FormCore& form, const uint8_t* expected, uint32_t end);
// Either of the two; VerifyMode::None returns a result that passed, with no
// message and no traffic.
VerifyResult VerifyFlash(FormCore& form, const uint8_t* expected, uint32_t end, VerifyMode mode,
                         uint32_t bitRate = proto::kWriteBitRate);

// A write's transfer outcome followed by its verify: when `written` is Done
// and a mode is asked for, the verify runs and decides the outcome
// (WriteOutcome::Verified); otherwise `written` is returned as it is and
// nothing is sent. The read-back's waits follow the rate the link is at
// (form.LinkRate).
WriteOutcome VerifyAfterWrite(FormCore& form, const WriteOutcome& written, const uint8_t* expected, uint32_t end,
                              VerifyMode mode);

struct BlankCheckResult {
    bool passed = false;
    std::string message;  // as shown
};

// The blank check of the user area, with its outcome shown.
BlankCheckResult CheckUserAreaBlank(FormCore& form);

// The erase command's step after the user-area selection: the blank check as
// a write's outcome, Done with its text, or TargetFailed at BlankCheck.
WriteOutcome CheckErased(FormCore& form);
