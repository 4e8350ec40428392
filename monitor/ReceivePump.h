// The monitor's receive pump, the first step of every tick: while the link is
// idle it moves up to 255 waiting bytes into the monitor's display as one line.
#pragma once

class FormCore;

void MonitorReceivePump(FormCore& form);
