// How a write ended, for the front ends to act on (the command line's exit
// status, for one). The status line has shown the matching text already; the
// outcome carries it too, with the stage the write had reached.
//
// Contract
// - Done: the chip acknowledged the end of programming.
// - Cancelled: the user cancelled the file choice; nothing was programmed.
// - FileRefused: the file could not be opened (message empty) or the reader
//   refused it (message: "file format err line N", ...); nothing was sent.
// - TargetFailed: a stage of the exchange with the chip failed; `stage` names
//   it and `message` is the text shown ("cpu not answer 3", "time out err1").
// - LinkFailed: the converter could not be opened, so no write began.
// - Busy: a write, a restart of the target or the start-up connection was
//   running; the request was ignored without traffic or message.
// - VerifyFailed: the image was programmed and its end acknowledged, but the
//   verify asked for found the flash different or could not finish; `verify`
//   says which, `stage` is Verify and `message` the verify's text.
// - A write with a verify that passed is Done with `verify` filled in; a write
//   without one leaves `verify.mode` None.
// - The erase command ends Done after a blank check that passed (`message`
//   holds its text), TargetFailed with the stage BlankCheck when it failed,
//   or as a write does when a stage before it failed.
// - Interrupted: the host asked the write to stop (FormCore::StopRequested);
//   `stage` is the one it stopped in or before. The target was left in boot
//   mode, not restarted.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

enum class WriteResult { Done, Cancelled, FileRefused, TargetFailed, LinkFailed, Busy, VerifyFailed, Interrupted };

// The stages of a write, numbered as the boot-mode messages number them
// ("get ack 3", "Erase err 11"); programming and its end command follow.
enum class WriteStage : uint8_t {
    None = 0,
    BitRateSync = 1,     // 0x00 bytes until the chip answers
    BitRateConfirm = 2,  // 0x55, answered by 0xE6
    DeviceInquiry = 3,
    DeviceSelect = 4,
    ClockModeInquiry = 5,
    ClockModeSelect = 6,
    RatioInquiry = 7,
    FrequencyInquiry = 8,
    NewBitRate = 9,
    NewBitRateConfirm = 10,
    Erase = 11,
    UserMatSelect = 12,
    Programming = 13,     // the 128-byte blocks
    EndProgramming = 14,  // the end command
    Verify = 15,          // the check of the written flash (write --verify)
    BlankCheck = 16,      // the check that the erased flash is blank (erase)
};

enum class VerifyMode { None, Read, Sum };

// What a verify found, as plain fields for reports.
struct VerifyResult {
    VerifyMode mode = VerifyMode::None;
    bool passed = false;
    uint64_t bytesCompared = 0;  // read: bytes read back and found equal; sum: bytes the sum covers
    uint32_t expectedSum = 0;    // sum mode
    uint32_t actualSum = 0;      // sum mode, as the chip reported it
    bool mismatch = false;       // the flash differs (as against an exchange that failed)
    bool stopped = false;        // a stop ended it before it finished
    uint32_t address = 0;        // read mode, mismatch: the first differing address
    uint8_t expectedByte = 0;    // read mode, mismatch: the byte meant to be there
    uint8_t actualByte = 0;      // read mode, mismatch: the byte read back
    std::string message;         // the outcome as shown: "verify OK, ..." or "verify failed..."
};

struct WriteOutcome {
    WriteResult result = WriteResult::Done;
    WriteStage stage = WriteStage::None;
    std::string message;
    VerifyResult verify;  // mode None when no verify ran
    // From the programming on: the image is acknowledged below this address.
    uint32_t programmedTo = 0;

    // What programming did, for a summary: the bit rate told to the chip for
    // it (0 before the boot-mode sequence chose one), the blocks sent and the
    // blank blocks skipped (image/ProgramImage.h).
    uint32_t bitRate = 0;
    uint32_t blocksSent = 0;
    uint32_t blocksSkipped = 0;
    // The failure looks like a bit rate that the two ends do not share: the
    // confirmation at the new rate did not come back, or programming met a
    // garbled reply or a checksum error.
    bool rateSuspect = false;

    bool Done() const { return result == WriteResult::Done; }

    static WriteOutcome Of(WriteResult result, std::string message = std::string()) {
        WriteOutcome o;
        o.result = result;
        o.message = std::move(message);
        return o;
    }
    static WriteOutcome TargetFailed(WriteStage stage, std::string message) {
        WriteOutcome o = Of(WriteResult::TargetFailed, std::move(message));
        o.stage = stage;
        return o;
    }
    // A write whose programming was done, once its verify ran: Done when it
    // passed, VerifyFailed at the stage Verify with its message otherwise;
    // what programming did is kept.
    static WriteOutcome Verified(WriteOutcome written, VerifyResult verify) {
        WriteOutcome o = std::move(written);
        if (!verify.passed) {
            o.result = WriteResult::VerifyFailed;
            o.stage = WriteStage::Verify;
            o.message = verify.message;
        }
        o.verify = std::move(verify);
        return o;
    }
    static WriteOutcome Interrupted(WriteStage stage) {
        WriteOutcome o = Of(WriteResult::Interrupted);
        o.stage = stage;
        return o;
    }
};
