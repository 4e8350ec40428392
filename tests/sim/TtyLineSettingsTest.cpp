// The pty board reads the host's line settings with the kernel's termios2, so
// a rate set through BOTHER comes back as the number the host asked for.
// (No <termios.h> here: it cannot share a translation unit with termios2.)
#include "sim/TtyLineSettings.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cstdlib>

namespace {

TEST(TtyLineSettings, ReadsStandardAndArbitraryRates) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    struct Case {
        unsigned code;  // a Bnnn code, or BOTHER
        unsigned speed;
        uint32_t rate;
    };
    for (const Case& c : std::vector<Case>{
             {B19200, 0, 19200},
             {B38400, 0, 38400},
             {B115200, 0, 115200},
             {BOTHER, 390625, 390625},
             {BOTHER, 781250, 781250},
             {BOTHER, 38400, 38400},
         }) {
        struct termios2 t {};
        ASSERT_EQ(::ioctl(slave, TCGETS2, &t), 0);
        t.c_cflag &= ~(CBAUD | CSIZE | CSTOPB | PARENB);
        t.c_cflag |= c.code | CS8;
        t.c_ispeed = t.c_ospeed = c.speed;
        ASSERT_EQ(::ioctl(slave, TCSETS2, &t), 0);
        TtyLineSettings s;
        ASSERT_TRUE(ReadTtyLineSettings(slave, &s));
        EXPECT_EQ(s.rate, c.rate) << c.speed;
        EXPECT_EQ(s.bits, 8);
        EXPECT_EQ(s.stop, 0);
        EXPECT_EQ(s.parity, 0);
    }
    ::close(slave);
    ::close(master);
}

}  // namespace
