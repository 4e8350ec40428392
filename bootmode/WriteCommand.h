// The write command behind FWRITE: restart the target, put it into boot mode,
// adjust the bit rate, run the boot-mode sequence, transfer the image and
// restart the target into its new program.
//
// Contract
// - Button1Click holds LinkBusy set from just after its first ResetTarget to
//   its end, sets MonitorRateSet, and ends with LinkBusy clear on every path.
// - Bit-rate adjustment at 19200 bit/s: up to ten 0x00 bytes, each followed
//   by a wait of 2 ticks for a 0x00 among the first 20 bytes of a read; then
//   one 0x55 and a wait of 10 ticks for 0xE6. "cpu not answer 1" does not
//   beep; "cpu not answer 2" does.
// - form.TransferImage() and the final ResetTarget run only after
//   RunBootSequence returned 0; the final ResetTarget runs whatever the
//   transfer's outcome. After a failure the lines stay in the boot-mode state.
// - A click while a write is running (the waits run the message pump) or
//   while LinkBusy is set returns at once: no traffic, no message, no beep.
// - `rate` goes to the boot-mode sequence (bootmode/BootSequence.h); the
//   window's default is its 38400 bit/s at 12.50 MHz. The result is 0 when
//   the boot-mode sequence passed (whatever the transfer's outcome), else the
//   number of the stage that failed, as its message shows it (1 to 12), or
//   kWriteIgnored for a click that was ignored.
#pragma once

#include "bootmode/BootSequence.h"

#include <cstdint>

class FormCore;

constexpr uint8_t kWriteIgnored = 0xFF;

uint8_t Button1Click(FormCore& form, const BootRate& rate = BootRate{});
