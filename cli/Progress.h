// The text of the command line's progress bar: a bar, the percentage, the
// bytes done of the total, the rate and the time left, e.g.
//   [##########..........]  50%  2.0/4.0 KiB  3.9 KiB/s  0:01 left
#pragma once

#include <cstdint>
#include <string>

// `done` and `total` in bytes (done is clamped to total), `elapsed` in seconds
// since the programming started. The rate and time left are left out until
// there is something to measure; at 100 % "done" takes the time left's place.
std::string FormatProgress(uint64_t done, uint64_t total, double elapsed, int barWidth = 24);

// Byte counts in the units the bar uses: "512 B", "4.0 KiB", "1.5 MiB".
std::string FormatBytes(double bytes);
