#include "monitor/ReceivePump.h"

#include "app/FormCore.h"

// Filled in with the monitor.
void MonitorReceivePump(FormCore&) {}
