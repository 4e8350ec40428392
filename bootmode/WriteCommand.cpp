#include "bootmode/WriteCommand.h"

#include "bootmode/AwaitReply.h"
#include "bootmode/BootSequence.h"
#include "bootmode/LinkRate.h"
#include "bootmode/ResetLines.h"
#include "core/FormCore.h"
#include "link/Driver.h"
#include "protocol/Protocol.h"

namespace {

constexpr uint8_t kSyncAttempts = 10;
constexpr int32_t kSyncTicks = 2;
constexpr int32_t kConfirmTicks = 10;

void WriteByte(uint8_t byte) {
    uint32_t written = 0;
    WriteBytes(DeviceHandle, &byte, 1, &written);
}

// The bit-rate adjustment: the chip measures the host's rate from 0x00 bytes
// and answers one of them with 0x00; 0x55 then asks it to confirm, and it
// answers 0xE6. Done once the chip confirmed.
WriteOutcome AdjustBitRate(FormCore& form) {
    PurgeBuffers(DeviceHandle, PURGE_BOTH);

    uint8_t attempts = 0;
    for (;;) {
        WriteByte(proto::kSyncByte);
        if (AwaitReply(form, proto::kSyncAnswer, 0, kReplyWindow, kSyncTicks)) break;
        ++attempts;
        if (attempts >= kSyncAttempts || form.StopRequested) {
            form.ShowStatus("cpu not answer 1");
            return WriteOutcome::TargetFailed(WriteStage::BitRateSync, "cpu not answer 1");
        }
    }
    form.ShowStatus("get ack 1");
    form.ShowStatus("bit rate adjust complete");

    if (form.StopRequested) return WriteOutcome::Interrupted(WriteStage::BitRateConfirm);
    // The confirmation follows the answer directly; nothing is purged before it.
    WriteByte(proto::kSyncConfirm);
    if (!AwaitReply(form, proto::kSyncConfirmed, 0, kReplyWindow, kConfirmTicks)) {
        form.SoundBeep();
        form.ShowStatus("cpu not answer 2");
        return WriteOutcome::TargetFailed(WriteStage::BitRateConfirm, "cpu not answer 2");
    }
    form.ShowStatus("get ack 2");
    return WriteOutcome{};
}

}  // namespace

WriteOutcome Button1Click(FormCore& form, const TransferStep& transfer, const BootRate& rate) {
    // Not nested in a running write, nor in a restart of the target (CPU_RESET
    // waits with LinkBusy clear): its end would pulse the lines under the
    // write's exchange.
    if (form.TargetOperationRunning() || form.LinkBusy) return WriteOutcome::Of(WriteResult::Busy);
    // A stop asked for before the start: nothing is touched.
    if (form.StopRequested) return WriteOutcome::Interrupted(WriteStage::None);
    TargetOperation running(form);

    // The target first restarts into its user program, which leaves LinkBusy
    // clear; from then on the link is the write's, and VIEW no longer sets the
    // monitor's rate.
    ResetTarget(form);
    form.LinkBusy = 1;
    form.MonitorRateSet = 1;
    SetLinkRate(form, proto::kAdjustBitRate);
    form.SoundBeep();
    form.ShowStatus("bit rate adjust");
    EnterBootMode(form);

    WriteOutcome outcome = AdjustBitRate(form);
    if (outcome.Done()) outcome = RunBootSequence(form, rate);
    // Only a chip ready for programming gets the transfer, and then the
    // restart into its new program whatever the transfer's outcome, unless
    // the user stopped the write: a stopped write leaves the target in boot
    // mode, so that it never starts a partly written program; the next write
    // or a restart recovers it.
    bool transferred = false;
    if (outcome.Done() && !form.StopRequested) {
        outcome = transfer(form);
        transferred = true;
    }
    if (form.StopRequested && !(transferred && outcome.Done())) {
        // Stopped before the chip was ready, it is the stage that was
        // running; once it was ready, at the latest the programming.
        if (outcome.Done()) outcome.stage = WriteStage::Programming;
        outcome.result = WriteResult::Interrupted;
        outcome.message.clear();
        outcome.rateSuspect = false;  // the user stopped it: nothing to try again
    } else if (transferred) {
        ResetTarget(form);
    }
    form.LinkBusy = 0;
    if (outcome.Done() || outcome.stage >= WriteStage::NewBitRate) outcome.bitRate = rate.rateUnits * 100u;
    return outcome;
}
