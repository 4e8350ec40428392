// Kept apart from <termios.h>: the kernel's termios2 and the C library's
// termios cannot share a translation unit.
#include "sim/TtyLineSettings.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace {
uint32_t RateOfCode(unsigned code) {
    switch (code) {
    case B50: return 50;
    case B75: return 75;
    case B110: return 110;
    case B134: return 134;
    case B150: return 150;
    case B200: return 200;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B500000: return 500000;
    case B576000: return 576000;
    case B921600: return 921600;
    case B1000000: return 1000000;
    default: return 0;
    }
}
}  // namespace

bool ReadTtyLineSettings(int fd, TtyLineSettings* out) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    const unsigned code = t.c_cflag & CBAUD;
    out->rate = code == BOTHER ? 0 : RateOfCode(code);
    if (out->rate == 0) out->rate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: out->bits = 5; break;
    case CS6: out->bits = 6; break;
    case CS7: out->bits = 7; break;
    default: out->bits = 8; break;
    }
    out->stop = (t.c_cflag & CSTOPB) ? 2 : 0;
    out->parity = (t.c_cflag & PARENB) ? 1 : 0;
    return true;
}
