// The Motorola S-record reader (image/ImageReader.h has the shared rules,
// the other formats and the memory entry point).
//
// Accepted: S1/S2/S3 data records in ascending address order without
// overlap (gaps are filled with 0xFF, and so is everything below the first
// record, so image offset i is always flash address i); S0 headers anywhere,
// skipped whatever the line holds (free text, any count, any checksum; at
// most 1024 characters, as every line);
// S5/S6 count records, whose checksum is checked and whose count must equal
// the number of data records before them; one S7/S8/S9 end record, after
// which nothing more is read. An end record line that holds only its type
// ("S9", "S8", "S7") ends the file like a complete one; a complete end record
// must have a correct checksum. A file that ends after a complete data record
// reads as if the matching end record followed.
//
// Refused, with the line number N of the record at fault:
// - "file format err line N": not a record (no S, type S4 or unknown, a
//   character that is not a hex digit, a count too small for the address and
//   checksum, a line too short or too long for its count), or a file without
//   any data or end record (N is then the line at which the file ends);
// - "file checksum err line N": the record's checksum does not match;
// - "file address err line N": a data record that starts below the end of
//   the previous one;
// - "file size err line N": a data record that, with the trailer, would not
//   fit in the FlashImage;
// - "file count err line N": an S5/S6 count that differs from the number of
//   S1/S2/S3 records before it (a file that lost records).
#pragma once

#include "image/ImageReader.h"

#include <cstddef>
#include <functional>
#include <string>

// The value 0..15 of a hex digit of either case, or -1 for any other
// character.
int HexDigitValue(unsigned char c);

// Reads `path` as S-records whatever it holds: ReadImageFile with
// ImageFormat::SRecord.
ReadResult ReadSRecordFile(const std::string& path, FlashImage& image, const std::function<void()>& perRecord = {},
                           size_t chunkBytes = kReadChunkBytes);
