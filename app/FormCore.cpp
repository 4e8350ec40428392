#include "app/FormCore.h"

#include "image/TransferImage.h"
#include "link/Driver.h"
#include "monitor/ReceivePump.h"

void FormCore::Timer1Timer() {
    // 1. The monitor's receive pump (it tests LinkBusy itself).
    MonitorReceivePump(*this);
    // 2. The countdown, whether LinkBusy is set or not.
    if (WaitTicks != 0) --WaitTicks;
}

void FormCore::WaitForTicks(int32_t n) {
    WaitTicks = n;
    while (WaitTicks != 0) ProcessMessages();
}

void FormCore::SoundBeep() {
    if (SoundTicked()) SystemBeep();
}

uint32_t FormCore::SetLinkRate(uint32_t rate) {
    LinkRate = rate;
    return SetBaudRate(DeviceHandle, rate);
}

void FormCore::TransferImage() { ::TransferImage(*this); }
