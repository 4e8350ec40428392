#include "cli/Progress.h"

#include <cmath>
#include <cstdio>

std::string FormatBytes(double bytes) {
    char buf[32];
    if (bytes < 1024)
        std::snprintf(buf, sizeof buf, "%.0f B", bytes);
    else if (bytes < 1024.0 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024);
    else
        std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / (1024.0 * 1024));
    return buf;
}

std::string FormatProgress(uint64_t done, uint64_t total, double elapsed, int barWidth) {
    if (done > total) done = total;
    const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
    const int filled = static_cast<int>(std::floor(fraction * barWidth));
    const int percent = static_cast<int>(std::floor(fraction * 100));

    std::string line = "[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(barWidth - filled), '.');
    char buf[96];
    std::snprintf(buf, sizeof buf, "] %3d%%  ", percent);
    line += buf;

    // The done/total pair in the total's unit, so the two read alike.
    if (total < 1024) {
        std::snprintf(buf, sizeof buf, "%llu/%llu B", static_cast<unsigned long long>(done),
                      static_cast<unsigned long long>(total));
    } else {
        const double unit = total < 1024ull * 1024 ? 1024.0 : 1024.0 * 1024;
        std::snprintf(buf, sizeof buf, "%.1f/%.1f %s", done / unit, total / unit, unit == 1024.0 ? "KiB" : "MiB");
    }
    line += buf;

    const bool finished = done == total && total != 0;
    if (done == 0 || elapsed <= 0) return finished ? line + "  done" : line;
    const double rate = done / elapsed;
    line += "  " + FormatBytes(rate) + "/s";
    if (finished) return line + "  done";
    const long left = std::lround((total - done) / rate);
    std::snprintf(buf, sizeof buf, "  %ld:%02ld left", left / 60, left % 60);
    return line + buf;
}
