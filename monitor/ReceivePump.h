// The monitor's receive pump, the first part of every tick (session/Session.h).
//
// Contract
// - While LinkBusy is set it makes no driver call at all, so a running write
//   keeps every byte it is waiting for.
// - Otherwise it asks how many bytes wait (one GetStatus, status not looked
//   at) and, when some do, reads at most 255 of them in one ReadBytes into a
//   zeroed 256-byte buffer; the rest stays queued for the next tick. The read's
//   status goes to LastStatus; on failure nothing is shown.
// - What was read, up to the first zero byte, becomes one new line of the
//   monitor's display (FormCore::AppendMonitorLine), whether the monitor
//   window is shown or not.
// - It never blocks and never runs the message pump.
#pragma once

class FormCore;

void MonitorReceivePump(FormCore& form);
