// The monitor's toolkit-free commands: VIEW's flag logic, SendKey and the key
// table. The Qt window (monitor/MonitorWindow.h) calls these.
#pragma once

#include <cstdint>

class FormCore;

// VIEW: refused (false) while LinkBusy is set; otherwise switches the link to
// 38400 bit/s once (MonitorRateSet), sounds the Sound beep and returns true:
// the caller then shows the monitor window.
bool MonitorView(FormCore& form);
