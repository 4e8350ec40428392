#include "bootmode/BootSequence.h"

#include "bootmode/AwaitReply.h"
#include "core/FormCore.h"
#include "link/Driver.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace {

constexpr size_t kDeviceCheckWindow = 30;  // leading bytes of the device list that are weighed

// One stage of the sequence.
struct Stage {
    WriteStage stage;
    std::vector<uint8_t> frame;     // sent in one write after the purge
    uint32_t threshold;             // a read happens only when more bytes than this wait
    bool deviceCheck;               // the reply is weighed by DeviceCheck instead of searched
    uint8_t awaited;                // the reply byte searched for (not for the device check)
    int32_t ticks;                  // the wait
    uint32_t rateBefore;            // non-zero: switch the link to this rate first
    const char* beforeWrite;        // shown between the purge and the write, if any
    const char* passed;             // shown when the reply came
    const char* failed;             // shown when the wait ran out
    bool beepOnFailure;
    const char* rejected;           // device check only: shown, without a beep, on rejection
};

// A single-byte command.
std::vector<uint8_t> Command(uint8_t code) { return {code}; }

// A command with data: code, size, data, checksum.
std::vector<uint8_t> Frame(uint8_t code, std::initializer_list<uint8_t> data) {
    std::vector<uint8_t> frame;
    frame.reserve(data.size() + 3);
    frame.push_back(code);
    frame.push_back(static_cast<uint8_t>(data.size()));
    for (uint8_t byte : data) frame.push_back(byte);
    frame.push_back(proto::FrameChecksum(frame.data(), frame.size()));
    return frame;
}

constexpr uint8_t Hi(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
constexpr uint8_t Lo(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

const std::vector<Stage>& Stages() {
    using namespace proto;
    static const std::vector<Stage> stages = {
        // Supported-device inquiry, with the device check.
        {WriteStage::DeviceInquiry, Command(kDeviceInquiry), 16, true, 0, 10, 0, nullptr,
         "get ack 3", "cpu not answer 3", true, "not H8SX1622"},
        // Device selection.
        {WriteStage::DeviceSelect, Frame(kDeviceSelect, {kDeviceCode[0], kDeviceCode[1], kDeviceCode[2], kDeviceCode[3]}),
         0, false, kAck, 10, 0, nullptr, "get ack 4", "cpu not answer 4", true, nullptr},
        // Clock-mode inquiry.
        {WriteStage::ClockModeInquiry, Command(kClockModeInquiry), 2, false, kClockModeReply, 10, 0, nullptr,
         "get ack 5", "cpu not answer 5", true, nullptr},
        // Clock-mode selection.
        {WriteStage::ClockModeSelect, Frame(kClockModeSelect, {kClockMode}), 0, false, kAck, 10, 0, nullptr,
         "get ack 6", "clock mode err 6", true, nullptr},
        // Multiplication-ratio inquiry.
        {WriteStage::RatioInquiry, Command(kRatioInquiry), 9, false, kRatioReply, 10, 0, nullptr,
         "get ack 7", "teibai err 7", true, nullptr},
        // Operating-frequency inquiry.
        {WriteStage::FrequencyInquiry, Command(kFrequencyInquiry), 11, false, kFrequencyReply, 10, 0, nullptr,
         "get ack 8", "cpu not answer 8", true, nullptr},
        // New bit rate.
        {WriteStage::NewBitRate, Frame(kNewBitRate, {Hi(kNewBitRateUnits), Lo(kNewBitRateUnits), Hi(kInputClockUnits),
                             Lo(kInputClockUnits), 2, kMultiplicationRatios[0], kMultiplicationRatios[1]}),
         0, false, kAck, 10, 0, nullptr, "get ack 9", "new bps rate err 9", true, nullptr},
        // The host follows to the new rate at once, then confirms it.
        {WriteStage::NewBitRateConfirm, Command(kBitRateConfirm), 0, false, kAck, 10, kWriteBitRate, nullptr,
         "get ack 10", "new bps rate err 10", true, nullptr},
        // Programming/erasing state; the chip erases its flash before it answers.
        {WriteStage::Erase, Command(kEnterProgramming), 0, false, kAck, 300, 0, "FLASH ROM Ereasing,,,",
         "FLASH ROM Erase complete! 11", "Erase err 11", true, nullptr},
        // User-MAT programming selection.
        {WriteStage::UserMatSelect, Command(kUserMatSelect), 0, false, kAck, 10, 0, nullptr,
         "boot mat select done 12", "boot mat select false 12", true, nullptr},
    };
    return stages;
}

PollResult WaitForReply(FormCore& form, const Stage& stage) {
    if (!stage.deviceCheck) {
        return AwaitReply(form, stage.awaited, stage.threshold, kReplyWindow, stage.ticks) ? PollResult::Accepted
                                                                                            : PollResult::TimedOut;
    }
    // The first successful read decides; there is no second look.
    return PollReceive(form, stage.threshold, stage.ticks, [](const uint8_t* bytes, size_t count) {
        return DeviceCheck(bytes, std::min(count, kDeviceCheckWindow)) ? ReadVerdict::Accept : ReadVerdict::Reject;
    });
}

}  // namespace

bool DeviceCheck(const uint8_t* bytes, size_t count) {
    uint8_t weight = 0;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == '1' || bytes[i] == '6') weight += 1;
        else if (bytes[i] == '2') weight += 2;
        if (weight > 4) return true;
    }
    return false;
}

WriteOutcome RunBootSequence(FormCore& form) {
    for (const Stage& stage : Stages()) {
        // A stage that changes the bit rate does so before its purge, so that
        // nothing received at the old rate is left over.
        if (stage.rateBefore != 0) SetBaudRate(DeviceHandle, stage.rateBefore);
        PurgeBuffers(DeviceHandle, PURGE_BOTH);
        if (stage.beforeWrite) form.ShowStatus(stage.beforeWrite);
        uint32_t written = 0;
        WriteBytes(DeviceHandle, stage.frame.data(), static_cast<uint32_t>(stage.frame.size()), &written);
        switch (WaitForReply(form, stage)) {
        case PollResult::Accepted:
            form.ShowStatus(stage.passed);
            break;
        case PollResult::Rejected:
            form.ShowStatus(stage.rejected);
            return WriteOutcome::TargetFailed(stage.stage, stage.rejected);
        case PollResult::TimedOut:
            if (stage.beepOnFailure) form.SoundBeep();
            form.ShowStatus(stage.failed);
            return WriteOutcome::TargetFailed(stage.stage, stage.failed);
        }
    }
    return WriteOutcome{};
}
