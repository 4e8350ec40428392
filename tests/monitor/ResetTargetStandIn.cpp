// TEMPORARY: stands in for the reset lines until they land; removed then.
#include "app/FormCore.h"
#include "link/Driver.h"

void ResetTarget(FormCore& form) {
    SetRts(DeviceHandle);
    SetDtr(DeviceHandle);
    form.WaitForTicks(2);
    ClearDtr(DeviceHandle);
    form.LinkBusy = 0;
}
