#include "monitor/Monitor.h"

#include "app/FormCore.h"

// Filled in with the monitor.
bool MonitorView(FormCore& form) { return form.LinkBusy == 0; }
