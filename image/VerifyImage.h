// The check after a write that the target's flash holds what was meant to be
// there, and the blank check after an erase.
//
// What a write leaves in the flash: the programmed range runs from address 0
// to the end of the block that holds the image's last byte (ProgrammedEnd);
// in it lie the image and, in the last block, the start of its trailer, and
// everywhere else the erased 0xFF. A block inside the range that was not sent
// (all 0xFF) reads 0xFF as well, so the range compares alike either way.
//
// Contract
// - The target is in the programming/erasing state (after the end-of-
//   programming command was acknowledged) and talks on DeviceHandle.
// - Read: the programmed range is read back in memory reads of up to
//   kVerifyChunk bytes from address 0 up and compared byte for byte; the
//   first difference ends the verify. The progress bar runs from 0 to its
//   maximum over the range.
// - Sum: the user area's extent (0x25), then its sum (0x4B), compared with the
//   sum of the expected bytes over every area. A programmed range that the
//   areas do not cover fails.
// - A wrong or missing reply ends the verify as a failure naming the command
//   and the fault. Each verify shows one status message at its start and its
//   outcome (VerifyResult::message) at its end.
#pragma once

#include "bootmode/AreaCommands.h"
#include "image/FlashImage.h"

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

// The end of the programmed range: ImageLength rounded up to whole blocks.
uint32_t ProgrammedEnd(const FlashImage& image);
// What flash address `address` holds after a write of `image`.
uint8_t ExpectedByte(const FlashImage& image, uint32_t address);
// The 32-bit byte-wise sum of the areas after a write of `image`.
uint32_t ExpectedSum(const FlashImage& image, const std::vector<FlashArea>& areas);

VerifyResult VerifyByReading(FormCore& form, const FlashImage& image);
VerifyResult VerifyBySum(FormCore& form, const FlashImage& image);
// Either of the two; VerifyMode::None returns a result that passed, with no
// message and no traffic.
VerifyResult VerifyFlash(FormCore& form, const FlashImage& image, VerifyMode mode);

struct BlankCheckResult {
    bool passed = false;
    std::string message;   // as shown
};

// The blank check of the user area, with its outcome shown.
BlankCheckResult CheckUserAreaBlank(FormCore& form);
