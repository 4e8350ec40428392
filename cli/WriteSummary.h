// The end of a command-line write in one record: what was written where, how
// it ended, how long it took and what state the board was left in. The
// write prints it as one summary line, or with --json as one JSON object on
// standard output; a gang write prints an array of them.
//
// Contract
// - Fields that a write did not measure stay empty (std::nullopt) and show
//   as null in JSON and not at all on the summary line. Features that add a
//   measurement (verify, the rate used, skipped blocks) fill their field;
//   nothing else has to change.
// - JsonString turns any byte string into a JSON string literal: quotes,
//   backslashes and control bytes escaped, valid UTF-8 kept as it is, every
//   byte that is not part of valid UTF-8 replaced by U+FFFD. The output is
//   always valid JSON, whatever a file name or a status text holds.
// - Numbers are written with the C locale's decimal point.
#pragma once

#include "core/BoardState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class WriteEnd {
    Done,          // "FLASH ROM write correct done!" (and the verify passed, when asked for)
    Cancelled,     // no file was chosen
    FileRefused,   // unreadable or refused file: nothing touched
    TargetFailed,  // a stage of the write failed
    LinkFailed,    // no converter, or it did not open
    VerifyFailed,  // written, but the read-back or the sum differs
    Interrupted,   // SIGINT, SIGTERM or SIGHUP stopped it
    Crashed,       // a gang write's child ended without a summary
};

// "done", "cancelled", "file-refused", "target-failed", "link-failed",
// "verify-failed", "interrupted", "crashed".
const char* WriteEndName(WriteEnd end);

// What the target was left with: core/BoardState.h.

struct VerifySummary {
    std::string mode;  // "read" or "sum"
    bool ok = false;
    std::string message;
    std::optional<uint64_t> bytesCompared;            // read
    std::optional<uint32_t> expectedSum, actualSum;   // sum
    std::optional<uint32_t> address;                  // read: the first differing address
    std::optional<uint8_t> expectedByte, actualByte;  // read: its bytes
};

struct WriteSummary {
    std::string file;
    std::string port;  // the device path, or the converter's serial number
    WriteEnd end = WriteEnd::TargetFailed;
    std::optional<int> stage;  // the stage that failed
    std::string message;       // the last status text
    int exitStatus = 1;
    std::optional<uint64_t> imageBytes;
    uint64_t blocksSent = 0;
    std::optional<uint64_t> blocksSkipped;
    std::optional<uint32_t> bitRate;  // the bit rate the programming ran at
    double elapsedSeconds = 0;
    std::optional<VerifySummary> verify;
    BoardState board = BoardState::Unknown;
    std::optional<uint32_t> programmedTo;  // the end of the acknowledged blocks

    // The bytes of the image that were acknowledged: the image when the
    // write is done, less when it stopped.
    uint64_t BytesWritten() const;
    // BytesWritten per second of the whole write, 0 without a time.
    double BytesPerSecond() const;
};

std::string JsonString(const std::string& bytes);

// One JSON object, on one line, without a line end.
std::string SummaryJson(const WriteSummary& s);
// A JSON array of the objects, one a line.
std::string SummaryJsonArray(const std::vector<WriteSummary>& all);

// Reads back what SummaryJson wrote; false when `text` is not such an object
// (unknown names of outcome or board state included).
bool SummaryFromJson(const std::string& text, WriteSummary* out);

// "verify OK (read, 4224 bytes)", "verify FAILED (sum: expected sum ..., read ...)".
std::string VerifyResultText(const VerifySummary& v);

// The outcome's name with the stage that failed: "target-failed at stage 7".
std::string OutcomeText(const WriteSummary& s);

// True when the write touched the board and did not leave it running the new
// program: the reports then say what state the board is in.
bool TellsBoardState(const WriteSummary& s);

// The summary line, e.g.
//   "summary: 4096 bytes, 33 blocks sent, 3.21 s, 1.2 KiB/s, verify OK (read, 4224 bytes)"
// and, when the write did not end with the new program running, the board's
// state: "...; board: in boot mode, flash erased; ...".
std::string SummaryLine(const WriteSummary& s);
