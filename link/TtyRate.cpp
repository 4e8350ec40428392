#include "link/TtyRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <cerrno>

namespace {

// The rates the Bnnn constants name, with the constant.
bool StandardSpeed(uint32_t rate, tcflag_t* speed) {
    struct Rate {
        uint32_t rate;
        tcflag_t speed;
    };
    static const Rate rates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Rate& r : rates) {
        if (r.rate == rate) {
            *speed = r.speed;
            return true;
        }
    }
    return false;
}

}  // namespace

int SetTtyRate(int fd, uint32_t rate) {
    if (rate == 0) return EINVAL;
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    tcflag_t speed = BOTHER;
    const bool standard = StandardSpeed(rate, &speed);
    // The input rate field (CIBAUD) is set like the output one; with B0 there
    // the kernel would also take the output rate, but saying it is plainer.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= speed | (speed << IBSHIFT);
    t.c_ispeed = t.c_ospeed = standard ? 0 : rate;
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

int GetTtyRate(int fd, uint32_t* rate) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    *rate = t.c_ospeed;
    return 0;
}

bool RateWithinRounding(uint32_t asked, uint32_t got) {
    const uint64_t difference = asked > got ? asked - got : got - asked;
    return difference * 100 <= uint64_t{asked} * 3;
}
