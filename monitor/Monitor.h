// The monitor's commands without any toolkit: VIEW's link logic, the on-screen
// keyboard's byte table, SendKey and CPU_RESET. The monitor window
// (app/MonitorWindow.h) and the main window's VIEW button call these.
//
// Contract
// - Nothing here reports an error or writes the status line; the statuses of
//   SetBaudRate and WriteBytes are ignored and LastStatus is left alone.
// - While LinkBusy is set (the start-up connection or a write owns the link)
//   VIEW, the character keys and CPU_RESET are refused without a sign: no
//   beep, no driver call, no change of any field.
#pragma once

#include <cstdint>

class FormCore;

// The link's bit rate while the monitor talks to the target program.
constexpr uint32_t kMonitorBitRate = 38400;

// Puts the link at the monitor's 38400 bit/s unless LinkRate says it is
// there already. VIEW, the keys, CPU_RESET and the command line's monitor
// and reset call it before they use the link, so the target's program is
// never read or written at another rate (a write that failed before its new
// bit rate leaves the link at 19200 bit/s).
void UseMonitorRate(FormCore& form);

// VIEW. Refused (false) while LinkBusy is set. Otherwise: sets
// MonitorRateSet, puts the link at the monitor rate (UseMonitorRate: one
// SetBaudRate at most, whatever it returns); sounds the Sound beep; returns
// true, and the caller shows the monitor window and brings it to the front.
// Nothing is purged, nothing is reset.
bool MonitorView(FormCore& form);

// The byte that key button `button` (1..41) sends: 1..26 the letters "A".."Z"
// (small letters while `smallLetter` is ticked), 27..36 the digits, 37..40
// "/", "*", "-", "+", 41 "Enter" as a lone carriage return. Any other number
// (42 MON.CLR, 43 CPU_RESET, out of range) sends nothing and gives 0.
uint8_t KeyByte(int button, bool smallLetter);

// Sends one key: refused while LinkBusy is set; otherwise the monitor rate
// (UseMonitorRate), the Sound beep, then exactly one byte written to the
// converter.
void SendKey(FormCore& form, uint8_t keyChar);

// CPU_RESET: refused while LinkBusy is set, so it cannot cut into a running
// write; otherwise the monitor rate (UseMonitorRate), the Sound beep, then
// ResetTarget restarts the target into its own program (a two-tick wait with
// the message pump running, ending with LinkBusy clear).
void CpuReset(FormCore& form);
