#include "bootmode/ResetLines.h"

#include "core/FormCore.h"
#include "link/Driver.h"

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
    {
        // The wait runs the message pump with LinkBusy possibly clear; the
        // write command must not start inside it.
        TargetOperation running(form);
        form.WaitForTicks(2);
    }
    ClearDtr(DeviceHandle);
    form.LinkBusy = 0;
}
