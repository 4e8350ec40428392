// Reads a Motorola S-record file into a FlashImage in one pass.
//
// Accepted: S1/S2/S3 data records in ascending address order without
// overlap (gaps are filled with 0xFF, and so is everything below the first
// record, so image offset i is always flash address i); S0 headers anywhere;
// S5/S6 count records, skipped; one S7/S8/S9 end record, after which nothing
// more is read. A file that ends after a complete data record reads as if the
// matching end record followed. Lines end in LF or CR LF; empty lines and
// trailing spaces and tabs are ignored; hex digits may be of either case.
//
// Refused, with the line number N of the record at fault:
// - "file format err line N": not a record (no S, type S4 or unknown, a
//   character that is not a hex digit, a count too small for the address and
//   checksum, a line too short or too long for its count), or a file without
//   any data or end record;
// - "file checksum err line N": the record's checksum does not match;
// - "file address err line N": a data record that starts below the end of
//   the previous one;
// - "file size err line N": a data record that, with the trailer, would not
//   fit in the FlashImage.
// For a file with neither data nor end record, N is the line at which the file
// ends.
//
// The file is read in large binary chunks and closed before the call returns,
// whatever the outcome. Opening never waits (a FIFO without a writer reads as
// an empty file), and a line is refused as soon as it is too long, so an
// endless stream without line ends ends the read. Nothing is allocated per record, and no byte is
// written outside the FlashImage. On acceptance, ImageLength is set and the
// trailer stored behind the image; after a refusal the image content is
// meaningless.
#pragma once

#include "image/FlashImage.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The value 0..15 of a hex digit of either case, or -1 for any other
// character.
int HexDigitValue(unsigned char c);

enum class ReadOutcome {
    Accepted,
    CannotOpen,     // the file could not be opened or read; no message
    FormatError,
    ChecksumError,
    AddressError,
    SizeError,
};

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::CannotOpen;
    uint32_t line = 0;          // the record at fault (refusals only)
    std::string endText;        // accepted: "S1 file format", "S2 ..." or "S3 ..."
    std::string message;        // refused: "file format err line N" and the like
    uint32_t dataBytes = 0;     // accepted: the data bytes the records held (0: an end record alone)

    bool Accepted() const { return outcome == ReadOutcome::Accepted; }
};

constexpr size_t kReadChunkBytes = 256 * 1024;

// Reads `path` into `image`. `perRecord`, when set, is called once after each
// data record is placed (the caller keeps its windows alive with it).
// `chunkBytes` is the size of each read from the file.
ReadResult ReadSRecordFile(const std::string& path, FlashImage& image,
                           const std::function<void()>& perRecord = {},
                           size_t chunkBytes = kReadChunkBytes);
