// The write command behind FWRITE: restart the target, put it into boot mode,
// adjust the bit rate, run the boot-mode sequence, transfer the image and
// restart the target into its new program.
//
// Contract
// - Button1Click holds LinkBusy set from just after its first ResetTarget to
//   its end, sets MonitorRateSet, and ends with LinkBusy clear on every path.
//   It counts as a target operation (core/FormCore.h) for its whole run.
// - Bit-rate adjustment at 19200 bit/s: up to ten 0x00 bytes, each followed
//   by a wait of 2 ticks for a 0x00 among the first 20 bytes of a read; then
//   one 0x55 and a wait of 10 ticks for 0xE6. "cpu not answer 1" does not
//   beep; "cpu not answer 2" does.
// - `transfer` (the file choice, reading and programming) and the final
//   ResetTarget run only after the boot-mode sequence passed; the final
//   ResetTarget runs whatever the transfer's outcome. After a failure the
//   lines stay in the boot-mode state.
// - A stop (form.StopRequested, core/FormCore.h) ends the write at the next
//   safe point: no frame is sent after the one in flight has been answered
//   or its wait cut short, a stage whose wait was cut short shows its
//   failure text as a run-out wait does, and the final ResetTarget does not
//   run unless the image was completely written: the target stays in boot
//   mode. The result is then Interrupted with the stage it stopped in (and
//   how far the image was acknowledged). A stop set before the click
//   touches nothing.
// - The result is the transfer's outcome, or the failed stage before it.
// - A click while a write or a restart of the target is running (their waits
//   run the message pump) or while LinkBusy is set returns Busy at once: no
//   traffic, no message, no beep.
// - `rate` goes to the boot-mode sequence (bootmode/BootSequence.h); the
//   window's default is its 38400 bit/s at 12.50 MHz. Once the new bit rate
//   was told, the outcome's bitRate is that rate.
#pragma once

#include "bootmode/BootSequence.h"
#include "core/WriteOutcome.h"

#include <functional>

class FormCore;

// The transfer phase of a write: what the write runs once the chip is ready
// for programming.
using TransferStep = std::function<WriteOutcome(FormCore& form)>;

WriteOutcome Button1Click(FormCore& form, const TransferStep& transfer, const BootRate& rate = BootRate{});
