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
#pragma once

#include <cstdint>
#include <string>
#include <utility>

enum class WriteResult { Done, Cancelled, FileRefused, TargetFailed, LinkFailed, Busy };

// The stages of a write, numbered as the boot-mode messages number them
// ("get ack 3", "Erase err 11"); programming and its end command follow.
enum class WriteStage : uint8_t {
    None = 0,
    BitRateSync = 1,      // 0x00 bytes until the chip answers
    BitRateConfirm = 2,   // 0x55, answered by 0xE6
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
};

struct WriteOutcome {
    WriteResult result = WriteResult::Done;
    WriteStage stage = WriteStage::None;
    std::string message;

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
};
