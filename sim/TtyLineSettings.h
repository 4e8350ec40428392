// The line settings a tty holds, read with the kernel's own termios layout so
// that any bit rate (standard or not) comes back as a number.
#pragma once

#include <cstdint>

struct TtyLineSettings {
    uint32_t rate = 0;   // bit/s
    uint8_t bits = 8;    // data bits
    uint8_t stop = 0;    // 0: one stop bit, 2: two (the driver layer's coding)
    uint8_t parity = 0;  // 0: none, 1: some parity
};

// False when fd holds no tty.
bool ReadTtyLineSettings(int fd, TtyLineSettings* out);
