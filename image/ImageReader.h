// Reads a firmware file into a FlashImage in one pass: Motorola S-records,
// Intel HEX or raw binary.
//
// Every reader fills the same flat image: offset i is flash address i, gaps
// and everything below the first data are 0xFF, and on acceptance
// ImageLength is set and the trailer stored behind the image. After a refusal
// the image content is meaningless. Programming cannot tell the formats
// apart.
//
// Which reader
// - ImageFormat::Detect looks at the file's first character that is not a
//   blank (space, tab, CR, LF): ':' reads Intel HEX, anything else S-records
//   (so a file that is neither is refused as S-records refuse it, "file
//   format err line N"). Binary is never detected.
// - SRecord, IntelHex and Binary read the file as that format whatever it
//   holds.
//
// S-records (see image/SRecordReader.h for the details): S1/S2/S3 data,
// S0 headers (skipped whatever they hold), S5/S6 counts (checked against the
// data records before them), one S7/S8/S9 end record. endText "S1 file
// format", "S2 file format" or "S3 file format".
//
// Intel HEX: records ":LLAAAATT...CC" with types 00 data, 01 end of file,
// 02 extended segment address, 04 extended linear address, 03 and 05 start
// addresses (checked, then ignored). The checksum of every record is
// verified. Data records ascend without overlap, as S-records must; a data
// record whose offset runs past the end of its 64 KiB segment under an 02
// base would wrap below its own start and is refused as an address error.
// The 01 record ends the file, nothing after it is read; a file that ends
// after a complete data record without one reads as complete. endText "HEX
// file format".
//
// Both text formats: LF or CR LF line ends, empty lines and trailing spaces
// and tabs ignored, hex digits of either case, lines of at most 1024
// characters (a longer line is refused as soon as it is seen, so an endless
// stream without line ends ends the read). Refusals, with the line N of the
// record at fault:
// - "file format err line N": not a record of the format, a character that
//   is not a hex digit, a count that does not match the line's length, an
//   unknown record type, a file cut inside a record; or a file with neither a
//   data nor an end record (N is then the line where the file ends);
// - "file checksum err line N": the record's checksum does not match;
// - "file address err line N": a data record that starts below the end of
//   the previous one;
// - "file size err line N": data that, with the trailer, would not fit in the
//   FlashImage (past kMaxImageLength);
// - "file count err line N" (S-records only): a count record that does not
//   match the number of data records before it.
//
// Binary: the file's bytes placed at `binaryAddress` (0xFF below it). A file
// that with the trailer would not fit is refused with "file size err" (no
// line: a binary has none; `line` is 0), as soon as its bytes pass the limit.
// endText "BIN file format".
//
// Files: opening never waits (a FIFO without a writer reads as an empty
// file); the file is read in chunks of `chunkBytes` and closed before the
// call returns, whatever the outcome. Nothing is allocated per record, and no
// byte is written outside the FlashImage.
#pragma once

#include "image/FlashImage.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

enum class ReadOutcome {
    Accepted,
    CannotOpen,  // the file could not be opened or read; no message
    FormatError,
    ChecksumError,
    AddressError,
    SizeError,
    CountError,
};

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::CannotOpen;
    uint32_t line = 0;       // the record at fault (refusals of text files only)
    std::string endText;     // accepted: "S1 file format", "HEX file format", ...
    std::string message;     // refused: "file format err line N" and the like
    uint32_t dataBytes = 0;  // accepted: the data bytes the file held (0: an end record alone)

    bool Accepted() const { return outcome == ReadOutcome::Accepted; }
};

enum class ImageFormat { Detect, SRecord, IntelHex, Binary };

// "srec", "hex" or "bin" to its format; false for any other word.
bool ParseImageFormat(const std::string& word, ImageFormat* format);

constexpr size_t kReadChunkBytes = 256 * 1024;

struct ImageReadOptions {
    ImageFormat format = ImageFormat::Detect;
    uint32_t binaryAddress = 0;  // Binary: where the first byte goes
    // Called after each data record is placed (for Binary: after each chunk);
    // the caller keeps its windows alive with it.
    std::function<void()> perRecord;
    size_t chunkBytes = kReadChunkBytes;  // the size of each read (0 counts as 1)
};

// Reads the file at `path` into `image`.
ReadResult ReadImageFile(const std::string& path, FlashImage& image, const ImageReadOptions& options = {});

// Reads `size` bytes at `data` as if they were a file's content, handing them
// to the reader in pieces of options.chunkBytes, as ReadImageFile hands over
// its reads. Every piece size gives the same result. Never CannotOpen.
ReadResult ReadImageMemory(const void* data, size_t size, FlashImage& image, const ImageReadOptions& options = {});
