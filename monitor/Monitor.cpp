#include "monitor/Monitor.h"

#include "bootmode/LinkRate.h"
#include "bootmode/ResetLines.h"
#include "core/FormCore.h"
#include "link/Driver.h"

bool MonitorView(FormCore& form) {
    // The link belongs to a write or the start-up connection.
    if (form.LinkBusy) return false;
    // The monitor rate. MonitorRateSet records that the monitor has been
    // asked for; whether the rate must change is told by the rate the link
    // is at, since a write that failed before its new bit rate leaves the
    // link at the adjustment's 19200 bit/s.
    form.MonitorRateSet = 1;
    UseMonitorRate(form);
    // The caller shows the window after the beep.
    form.SoundBeep();
    return true;
}

void UseMonitorRate(FormCore& form) {
    if (form.LinkRate != kMonitorBitRate) SetLinkRate(form, kMonitorBitRate);
}

uint8_t KeyByte(int button, bool smallLetter) {
    if (button >= 1 && button <= 26) return static_cast<uint8_t>((smallLetter ? 'a' : 'A') + button - 1);
    if (button >= 27 && button <= 36) return static_cast<uint8_t>('0' + button - 27);
    switch (button) {
    case 37: return '/';
    case 38: return '*';
    case 39: return '-';
    case 40: return '+';
    case 41: return 0x0D;  // Enter: carriage return alone
    default: return 0;
    }
}

void SendKey(FormCore& form, uint8_t keyChar) {
    if (form.LinkBusy) return;
    UseMonitorRate(form);
    form.SoundBeep();
    uint8_t buffer[1] = {keyChar};
    uint32_t written = 0;
    WriteBytes(DeviceHandle, buffer, 1, &written);
}

void CpuReset(FormCore& form) {
    if (form.LinkBusy) return;
    UseMonitorRate(form);
    form.SoundBeep();
    ResetTarget(form);
}
