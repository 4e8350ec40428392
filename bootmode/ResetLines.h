// The target's restart through the converter's modem-control lines. DTR is
// the restart line; RTS chooses, at the restart, between the chip's boot mode
// (cleared) and the user program in flash (set).
//
// Contract
// - Both operations issue a fixed sequence of line operations on DeviceHandle
//   around one tick wait, and return only after it. Line statuses are neither
//   tested nor stored in LastStatus; nothing is shown and nothing beeps.
// - EnterBootMode: ClearDtr, ClearRts, wait 1 tick, SetDtr, ClearRts. Leaves
//   DTR set, RTS cleared and LinkBusy untouched.
// - ResetTarget: SetRts, SetDtr, wait 2 ticks, ClearDtr, then clears
//   LinkBusy, whoever called it. Leaves DTR cleared and RTS set.
// - ResetTarget counts as a target operation (core/FormCore.h) while it is
//   inside its wait, where LinkBusy may be clear although the lines are in use
//   (CPU_RESET).
#pragma once

class FormCore;

void EnterBootMode(FormCore& form);
void ResetTarget(FormCore& form);
