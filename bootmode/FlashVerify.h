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
//   and the fault. Each verify shows one status message at its start and its
//   outcome (VerifyResult::message) at its end.
#pragma once

#include "bootmode/AreaCommands.h"

#include <cstdint>
#include <string>
#include <vector>

class FormCore;

enum class VerifyMode { None, Read, Sum };

// The bytes one memory read of the read-back asks for.
constexpr uint32_t kVerifyChunk = 1024;

// The outcome of a verify, as plain fields for reports.
struct VerifyResult {
    VerifyMode mode = VerifyMode::None;
    bool passed = false;
    uint64_t bytesCompared = 0;    // read: bytes read back and found equal; sum: bytes the sum covers
    uint32_t expectedSum = 0;      // sum mode
    uint32_t actualSum = 0;        // sum mode, as the chip reported it
    bool mismatch = false;         // the flash differs (as against an exchange that failed)
    uint32_t address = 0;          // read mode, mismatch: the first differing address
    uint8_t expectedByte = 0;      // read mode, mismatch: the byte meant to be there
    uint8_t actualByte = 0;        // read mode, mismatch: the byte read back
    std::string message;           // the outcome as shown: "verify OK, ..." or "verify failed..."
};

// The 32-bit byte-wise sum of the areas when they hold `expected` below `end`
// and 0xFF elsewhere.
uint32_t ExpectedSum(const uint8_t* expected, uint32_t end, const std::vector<FlashArea>& areas);

VerifyResult VerifyByReading(FormCore& form, const uint8_t* expected, uint32_t end);
VerifyResult VerifyBySum(FormCore& form, const uint8_t* expected, uint32_t end);
// Either of the two; VerifyMode::None returns a result that passed, with no
// message and no traffic.
VerifyResult VerifyFlash(FormCore& form, const uint8_t* expected, uint32_t end, VerifyMode mode);

struct BlankCheckResult {
    bool passed = false;
    std::string message;   // as shown
};

// The blank check of the user area, with its outcome shown.
BlankCheckResult CheckUserAreaBlank(FormCore& form);
