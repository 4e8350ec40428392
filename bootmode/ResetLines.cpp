#include "bootmode/ResetLines.h"

#include "app/FormCore.h"
#include "link/Driver.h"

namespace {
int resetsRunning = 0;
}  // namespace

void EnterBootMode(FormCore& form) {
    // RTS is cleared before the restart pulse on DTR, so the chip comes up in
    // its boot program.
    ClearDtr(DeviceHandle);
    ClearRts(DeviceHandle);
    form.WaitForTicks(1);
    SetDtr(DeviceHandle);
    ClearRts(DeviceHandle);
}

void ResetTarget(FormCore& form) {
    // RTS is set for the whole pulse, so the chip starts its user program.
    SetRts(DeviceHandle);
    SetDtr(DeviceHandle);
    ++resetsRunning;
    form.WaitForTicks(2);
    --resetsRunning;
    ClearDtr(DeviceHandle);
    form.LinkBusy = 0;
}

bool ResetTargetRunning() { return resetsRunning > 0; }
