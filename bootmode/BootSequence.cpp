#include "bootmode/BootSequence.h"

#include "bootmode/AwaitReply.h"
#include "bootmode/LinkRate.h"
#include "core/FormCore.h"
#include "link/Driver.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr size_t kDeviceCheckWindow = 30;  // leading bytes of the device list that are weighed

// One stage of the sequence.
struct Stage {
    WriteStage stage;
    std::vector<uint8_t> frame;  // sent in one write after the purge
    uint32_t threshold;          // a read happens only when more bytes than this wait
    bool deviceCheck;            // the reply is weighed by DeviceCheck instead of searched
    uint8_t awaited;             // the reply byte searched for (not for the device check)
    int32_t ticks;               // the wait
    uint32_t rateBefore;         // non-zero: switch the link to this rate first
    const char* beforeWrite;     // shown between the purge and the write, if any
    const char* passed;          // shown when the reply came
    const char* failed;          // shown when the wait ran out
    bool beepOnFailure;
    const char* rejected;  // device check only: shown, without a beep, on rejection
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

std::vector<Stage> Stages(const BootRate& rate) {
    using namespace proto;
    const uint16_t clock = rate.clock.inputUnits;
    return {
        // Supported-device inquiry, with the device check.
        {WriteStage::DeviceInquiry, Command(kDeviceInquiry), 16, true, 0, 10, 0, nullptr, "get ack 3",
         "cpu not answer 3", true, "not H8SX1622"},
        // Device selection.
        {WriteStage::DeviceSelect,
         Frame(kDeviceSelect, {kDeviceCode[0], kDeviceCode[1], kDeviceCode[2], kDeviceCode[3]}), 0, false, kAck, 10, 0,
         nullptr, "get ack 4", "cpu not answer 4", true, nullptr},
        // Clock-mode inquiry.
        {WriteStage::ClockModeInquiry, Command(kClockModeInquiry), 2, false, kClockModeReply, 10, 0, nullptr,
         "get ack 5", "cpu not answer 5", true, nullptr},
        // Clock-mode selection.
        {WriteStage::ClockModeSelect, Frame(kClockModeSelect, {kClockMode}), 0, false, kAck, 10, 0, nullptr,
         "get ack 6", "clock mode err 6", true, nullptr},
        // Multiplication-ratio inquiry.
        {WriteStage::RatioInquiry, Command(kRatioInquiry), 9, false, kRatioReply, 10, 0, nullptr, "get ack 7",
         "teibai err 7", true, nullptr},
        // Operating-frequency inquiry.
        {WriteStage::FrequencyInquiry, Command(kFrequencyInquiry), 11, false, kFrequencyReply, 10, 0, nullptr,
         "get ack 8", "cpu not answer 8", true, nullptr},
        // New bit rate.
        {WriteStage::NewBitRate,
         Frame(kNewBitRate, {Hi(rate.rateUnits), Lo(rate.rateUnits), Hi(clock), Lo(clock), 2, rate.clock.systemRatio,
                             rate.clock.peripheralRatio}),
         0, false, kAck, 10, 0, nullptr, "get ack 9", "new bps rate err 9", true, nullptr},
        // The host follows to the new rate at once, then confirms it.
        {WriteStage::NewBitRateConfirm, Command(kBitRateConfirm), 0, false, kAck, 10, rate.hostRate, nullptr,
         "get ack 10", "new bps rate err 10", true, nullptr},
        // Programming/erasing state; the chip erases its flash before it answers.
        {WriteStage::Erase, Command(kEnterProgramming), 0, false, kAck, 300, 0, "FLASH ROM Ereasing,,,",
         "FLASH ROM Erase complete! 11", "Erase err 11", true, nullptr},
        // User-MAT programming selection.
        {WriteStage::UserMatSelect, Command(kUserMatSelect), 0, false, kAck, 10, 0, nullptr, "boot mat select done 12",
         "boot mat select false 12", true, nullptr},
    };
}

// "12.50"-style text of a frequency in units of 0.01 MHz.
std::string Mhz(uint32_t units) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%02u", units / 100, units % 100);
    return buf;
}

// The ratio inquiry's reply (code, size, number of clock types, then for each
// type the number of ratios and the ratios): empty when the write's system
// and peripheral ratios are among those offered for the first two types,
// otherwise why not.
std::string CheckRatios(const std::vector<uint8_t>& f, const ClockSetup& clock) {
    const uint8_t wanted[2] = {clock.systemRatio, clock.peripheralRatio};
    const char* names[2] = {"system", "peripheral"};
    size_t at = 3;
    const size_t end = f.size() - 1;
    for (int type = 0; type < 2; ++type) {
        if (f[2] <= type || at >= end) return std::string("the chip reports no ") + names[type] + " clock ratios";
        const size_t count = f[at++];
        if (at + count > end) return "the chip's ratio list is cut short";
        if (std::find(f.begin() + at, f.begin() + at + count, wanted[type]) == f.begin() + at + count)
            return std::string("the chip offers no ratio ") + std::to_string(wanted[type]) + " for its " + names[type] +
                   " clock";
        at += count;
    }
    return "";
}

// The frequency inquiry's reply (code, size, number of clocks, then for each
// its lowest and highest frequency in 0.01 MHz): empty when the input clock
// times the ratios lies in the ranges of the first two (system, peripheral),
// otherwise why not.
std::string CheckFrequencies(const std::vector<uint8_t>& f, const ClockSetup& clock) {
    const uint8_t ratios[2] = {clock.systemRatio, clock.peripheralRatio};
    const char* names[2] = {"system", "peripheral"};
    for (int type = 0; type < 2; ++type) {
        const size_t at = 3 + 4u * type;
        if (f[2] <= type || at + 4 > f.size() - 1)
            return std::string("the chip reports no ") + names[type] + " clock range";
        const uint32_t low = static_cast<uint32_t>(f[at]) << 8 | f[at + 1];
        const uint32_t high = static_cast<uint32_t>(f[at + 2]) << 8 | f[at + 3];
        const uint32_t value = static_cast<uint32_t>(clock.inputUnits) * ratios[type];
        if (value < low || value > high)
            return std::string(names[type]) + " clock " + Mhz(value) + " MHz (" + Mhz(clock.inputUnits) + " MHz x " +
                   std::to_string(ratios[type]) + ") outside the chip's " + Mhz(low) + " to " + Mhz(high) + " MHz";
    }
    return "";
}

// Waits for a whole inquiry reply frame with `code` (reading whatever
// arrives, so a reply that comes in parts is put together) and judges its
// contents. Rejected with the reason in *why.
using ReplyCheck = std::string (*)(const std::vector<uint8_t>& frame, const ClockSetup& clock);

PollResult WaitForCheckedReply(FormCore& form, const Stage& stage, ReplyCheck check, const ClockSetup& clock,
                               std::string* why) {
    std::vector<uint8_t> got;
    return PollReceive(form, 0, stage.ticks, [&](const uint8_t* bytes, size_t count) {
        got.insert(got.end(), bytes, bytes + count);
        const size_t searched = std::min<size_t>(got.size(), kReplyWindow);
        const auto start = std::find(got.begin(), got.begin() + searched, stage.awaited);
        if (start == got.begin() + searched) {
            got.clear();  // not the reply: consumed and ignored
            return ReadVerdict::KeepWaiting;
        }
        got.erase(got.begin(), start);
        if (got.size() < 2 || got.size() < 3u + got[1]) return ReadVerdict::KeepWaiting;
        std::vector<uint8_t> frame(got.begin(), got.begin() + 3 + got[1]);
        if (proto::FrameChecksum(frame.data(), frame.size() - 1) != frame.back() || frame[1] < 1) {
            got.clear();
            return ReadVerdict::KeepWaiting;
        }
        *why = check(frame, clock);
        return why->empty() ? ReadVerdict::Accept : ReadVerdict::Reject;
    });
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
        if (bytes[i] == '1' || bytes[i] == '6')
            weight += 1;
        else if (bytes[i] == '2')
            weight += 2;
        if (weight > 4) return true;
    }
    return false;
}

WriteOutcome RunBootSequence(FormCore& form, const BootRate& rate) {
    for (const Stage& stage : Stages(rate)) {
        if (form.StopRequested) return WriteOutcome::Interrupted(stage.stage);
        // A stage that changes the bit rate does so before its purge, so that
        // nothing received at the old rate is left over.
        if (stage.rateBefore != 0) SetLinkRate(form, stage.rateBefore);
        PurgeBuffers(DeviceHandle, PURGE_BOTH);
        if (stage.beforeWrite) form.ShowStatus(stage.beforeWrite);
        uint32_t written = 0;
        WriteBytes(DeviceHandle, stage.frame.data(), static_cast<uint32_t>(stage.frame.size()), &written);
        // With the clock check, the ratio and frequency replies are read whole
        // and judged against the write's clock.
        ReplyCheck check = nullptr;
        if (rate.checkClock && stage.stage == WriteStage::RatioInquiry) check = CheckRatios;
        if (rate.checkClock && stage.stage == WriteStage::FrequencyInquiry) check = CheckFrequencies;
        std::string why;
        const PollResult result =
            check ? WaitForCheckedReply(form, stage, check, rate.clock, &why) : WaitForReply(form, stage);
        switch (result) {
        case PollResult::Accepted: form.ShowStatus(stage.passed); break;
        case PollResult::Rejected:
            if (!stage.deviceCheck) {
                // A clock the chip cannot run with.
                const std::string message = std::string(stage.failed) + ": " + why;
                form.SoundBeep();
                form.ShowStatus(message);
                return WriteOutcome::TargetFailed(stage.stage, message);
            }
            form.ShowStatus(stage.rejected);
            return WriteOutcome::TargetFailed(stage.stage, stage.rejected);
        case PollResult::TimedOut:
            if (stage.beepOnFailure) form.SoundBeep();
            form.ShowStatus(stage.failed);
            WriteOutcome outcome = WriteOutcome::TargetFailed(stage.stage, stage.failed);
            // No confirmation at the new rate: the two ends do not share it.
            outcome.rateSuspect = stage.stage == WriteStage::NewBitRateConfirm;
            return outcome;
        }
    }
    return WriteOutcome{};
}
