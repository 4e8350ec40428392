#include "core/FormCore.h"

void FormCore::WaitForTicks(int32_t n) {
    WaitTicks = n;
    while (WaitTicks != 0) ProcessMessages();
}

void FormCore::SoundBeep() {
    if (SoundTicked()) SystemBeep();
}
