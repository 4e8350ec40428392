#include "bootmode/WriteCommand.h"

#include "app/FormCore.h"
#include "bootmode/AwaitReply.h"
#include "bootmode/BootSequence.h"
#include "protocol/Protocol.h"
#include "bootmode/ResetLines.h"
#include "link/Driver.h"

namespace {

constexpr uint8_t kSyncAttempts = 10;
constexpr int32_t kSyncTicks = 2;
constexpr int32_t kConfirmTicks = 10;

// True while a write runs. LinkBusy alone does not cover the whole write: it
// is still clear during the first ResetTarget's wait, where a nested click
// would otherwise start a second write.
bool writeRunning = false;

struct RunningWrite {
    RunningWrite() { writeRunning = true; }
    ~RunningWrite() { writeRunning = false; }
};

void WriteByte(uint8_t byte) {
    uint32_t written = 0;
    WriteBytes(DeviceHandle, &byte, 1, &written);
}

// Steps 7 to 11: the bit-rate adjustment. True once the chip confirmed it.
bool AdjustBitRate(FormCore& form) {
    // 7. Start from empty queues.
    PurgeBuffers(DeviceHandle, PURGE_BOTH);

    // 8. 0x00 bytes until the chip, which measures the rate from them,
    //    answers one with 0x00.
    uint8_t attempts = 0;
    for (;;) {
        WriteByte(proto::kSyncByte);
        if (AwaitReply(form, proto::kSyncAnswer, 0, kReplyWindow, kSyncTicks)) break;
        ++attempts;
        if (attempts >= kSyncAttempts) {
            form.ShowStatus("cpu not answer 1");
            return false;
        }
    }
    form.ShowStatus("get ack 1");

    // 9. The rate is measured.
    form.ShowStatus("bit rate adjust complete");
    // 10. Confirm with 0x55, without a purge before it.
    WriteByte(proto::kSyncConfirm);
    // 11. The chip answers 0xE6.
    if (!AwaitReply(form, proto::kSyncConfirmed, 0, kReplyWindow, kConfirmTicks)) {
        form.SoundBeep();
        form.ShowStatus("cpu not answer 2");
        return false;
    }
    form.ShowStatus("get ack 2");
    return true;
}

}  // namespace

void Button1Click(FormCore& form) {
    // Not nested in a running write, nor in a restart of the target (CPU_RESET
    // waits with LinkBusy clear): its end would pulse the lines under the
    // write's exchange.
    if (writeRunning || form.LinkBusy || ResetTargetRunning()) return;
    RunningWrite running;

    // 1. Restart the target into its user program (leaves LinkBusy clear).
    ResetTarget(form);
    // 2. The link is the write's from here on; VIEW no longer sets the rate.
    form.LinkBusy = 1;
    form.MonitorRateSet = 1;
    // 3. The rate of the adjustment.
    form.SetLinkRate(proto::kAdjustBitRate);
    // 4., 5.
    form.SoundBeep();
    form.ShowStatus("bit rate adjust");
    // 6. Restart into boot mode.
    EnterBootMode(form);
    // 7. to 11. The bit-rate adjustment.
    // 12. Only after a good boot-mode sequence: the transfer, then the restart
    //     into the new program whatever the transfer's outcome.
    if (AdjustBitRate(form) && RunBootSequence(form) != 1) {
        form.TransferImage();
        ResetTarget(form);
    }
    // 13. Every path ends here.
    form.LinkBusy = 0;
}
