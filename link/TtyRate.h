// Bit rates of a tty through the kernel's termios2 interface (TCGETS2 and
// TCSETS2), which carries the rate as a number: with BOTHER any rate reaches
// the driver as asked, not only the ones the Bnnn constants name.
//
// This lives apart from the rest of the tty backend because the kernel's
// <asm/termbits.h>, which declares termios2, clashes with the C library's
// <termios.h>; nothing here needs either header.
//
// Contract
// - SetTtyRate sets `rate` as the input and the output rate of the tty `fd`,
//   leaving every other setting alone: as its Bnnn constant when one names it
//   exactly (so drivers and programs that only know those keep seeing them),
//   otherwise as BOTHER with the number. It returns 0, or the errno of the
//   failed call (EINVAL for rate 0, which would hang the line up).
// - GetTtyRate stores the output rate the tty reports now, as a number for a
//   Bnnn setting too; it returns 0 or the errno. A driver that had to round a
//   rate may report the rounded one here, and one that could not set it at
//   all the rate it fell back to. On a pseudo-terminal either end reads the
//   same rate.
#pragma once

#include <cstdint>

int SetTtyRate(int fd, uint32_t rate);
int GetTtyRate(int fd, uint32_t* rate);

// Whether a rate the driver reports back after `asked` was set is the
// converter's own rounding of it rather than a different rate: within 3 %.
//
// Why 3 %: an FTDI converter divides 3 MHz by a divisor in eighths (FT232R:
// 3,000,000 / (d + f/8)), which lands within 0.8 % of any rate up to
// 390,625 bit/s and within 3 % up to about 1.5 Mbit/s. A receiver samples each
// bit in its middle, so over a 10-bit frame the two ends of the line may
// differ by about 5 % in all before the stop bit is read wrongly; 3 % from the
// converter leaves the rest for the target's clock. Anything farther off is
// not rounding but a rate the driver could not set (ftdi_sio then falls back
// to 9600 bit/s) and would garble every byte.
bool RateWithinRounding(uint32_t asked, uint32_t got);
