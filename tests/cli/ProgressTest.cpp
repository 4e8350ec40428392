#include "cli/Progress.h"

#include <gtest/gtest.h>

TEST(Progress, ShowsShareBytesRateAndTimeLeft) {
    struct Case {
        uint64_t done, total;
        double elapsed;
        const char* expected;
    };
    const Case cases[] = {
        {0, 4096, 0.0, "[....................]   0%  0.0/4.0 KiB"},
        {1024, 4096, 0.5, "[#####...............]  25%  1.0/4.0 KiB  2.0 KiB/s  0:02 left"},
        {2048, 4096, 1.0, "[##########..........]  50%  2.0/4.0 KiB  2.0 KiB/s  0:01 left"},
        {4096, 4096, 2.0, "[####################] 100%  4.0/4.0 KiB  2.0 KiB/s  done"},
        {5000, 4096, 2.0, "[####################] 100%  4.0/4.0 KiB  2.0 KiB/s  done"},  // clamped
        {100, 200, 1.0, "[##########..........]  50%  100/200 B  100 B/s  0:01 left"},
        {0, 0, 0.0, "[####################] 100%  0/0 B"},
        {3 * 1024 * 1024 / 4, 3 * 1024 * 1024, 60.0, "[#####...............]  25%  0.8/3.0 MiB  12.8 KiB/s  3:00 left"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatProgress(c.done, c.total, c.elapsed, 20), c.expected);
}
