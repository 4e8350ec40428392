#include "session/Session.h"

#include "bootmode/WriteCommand.h"
#include "core/FormCore.h"
#include "image/TransferImage.h"
#include "monitor/ReceivePump.h"

void Timer1Timer(FormCore& form) {
    MonitorReceivePump(form);
    form.CountDownTick();
}

WriteOutcome Button1Click(FormCore& form) {
    return Button1Click(form, [](FormCore& f) { return TransferImage(f); });
}
