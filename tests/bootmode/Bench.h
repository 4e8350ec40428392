// Test bench for the write command on the recording fake driver: an opened
// fake converter, a virtual-time form that marks every tick in the call log
// and counts transfers, and a scripted chip that answers the host's bytes.
#pragma once

#include "bootmode/WriteCommand.h"
#include "protocol/Protocol.h"
#include "support/FakeLink.h"
#include "support/TestForm.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Marks each tick as "tick" in the call log and records the transfer phase.
class BootForm : public TestForm {
public:
    FakeLog* log = nullptr;
    FakeDevice* device = nullptr;
    int transfers = 0;
    uint8_t busyDuringTransfer = 0;
    uint32_t rateDuringTransfer = 0;

    void ProcessMessages() override {
        const long before = ticks;
        TestForm::ProcessMessages();
        if (ticks != before && log) log->calls.push_back("tick");
    }
    // The bench's transfer phase: recorded, then done.
    WriteOutcome TransferImage() {
        ++transfers;
        busyDuringTransfer = LinkBusy;
        rateDuringTransfer = device ? device->rate : 0;
        if (log) log->calls.push_back("TransferImage");
        return WriteOutcome{};
    }
};

// FWRITE on the bench: the write command with the bench's transfer.
inline WriteOutcome Button1Click(BootForm& form) {
    return Button1Click(form, [&form](FormCore&) { return form.TransferImage(); });
}

// A chip in boot mode as the fake sees it: each byte or frame the host writes
// is answered by the reply stored for its first byte, after a delay. The chip
// talks at 19200 bit/s until it has acknowledged the new bit rate and then at
// 38400; bytes written at any other rate go unanswered.
struct ChipScript {
    struct Reply {
        std::vector<uint8_t> bytes;
        int64_t delay = 0;  // microseconds after the write
    };
    std::map<uint8_t, Reply> replies;
    int firstAnsweredSync = 1;  // the first 0x00 that is answered (1 = the first)
    int syncSeen = 0;
    uint32_t chipRate = proto::kAdjustBitRate;

    void OnWrite(FakeDevice& dev, TestForm& form, const std::vector<uint8_t>& bytes) {
        if (bytes.empty() || dev.rate != chipRate) return;
        const uint8_t code = bytes[0];
        if (code == proto::kSyncByte && ++syncSeen < firstAnsweredSync) return;
        auto it = replies.find(code);
        if (it == replies.end()) return;
        const Reply reply = it->second;
        if (code == proto::kNewBitRate && !reply.bytes.empty() && reply.bytes[0] == proto::kAck)
            chipRate = proto::kWriteBitRate;
        FakeDevice* d = &dev;
        if (reply.delay == 0)
            d->rx.insert(d->rx.end(), reply.bytes.begin(), reply.bytes.end());
        else
            form.At(form.clock.now + reply.delay,
                    [d, reply] { d->rx.insert(d->rx.end(), reply.bytes.begin(), reply.bytes.end()); });
    }
};

// The supported-device reply of an H8SX/1622: 17 bytes, so it passes the
// read threshold of 16.
inline std::vector<uint8_t> DeviceList() {
    return {0x30, 0x0F, 0x01, 0x0D, '3', 'u', '0', '1', 'H', '8', 'S', 'X', '1', '6', '2', '2', 0x5A};
}

inline ChipScript GoodChip() {
    ChipScript chip;
    chip.replies = {
        {0x00, {{0x00}}},
        {0x55, {{0xE6}}},
        {0x20, {DeviceList()}},
        {0x10, {{0x06}}},
        {0x21, {{0x31, 0x02, 0x01, 0x00, 0xCC}}},
        {0x11, {{0x06}}},
        {0x22, {{0x32, 0x07, 0x02, 0x02, 0x04, 0x02, 0x02, 0x04, 0x02, 0xB7}}},
        {0x23, {{0x33, 0x09, 0x02, 0x03, 0xE8, 0x13, 0x88, 0x07, 0xD0, 0x0F, 0xA0, 0x4B}}},
        {0x3F, {{0x06}}},
        {0x06, {{0x06}}},
        {0x40, {{0x06}, 2000000}},  // the erase takes 2 s
        {0x43, {{0x06}}},
    };
    return chip;
}

struct Bench {
    FakeLinkScope scope;
    BootForm form;
    FakeDevice* dev = nullptr;
    ChipScript chip = GoodChip();

    Bench() {
        scope.provider->entries = {{"FAKE0001", "fake"}};
        LinkHandle h = nullptr;
        OpenBySerialNumber("FAKE0001", OPEN_BY_SERIAL_NUMBER, &h);
        DeviceHandle = h;
        dev = scope.provider->Device();
        dev->onWrite = [this](const std::vector<uint8_t>& bytes) { chip.OnWrite(*dev, form, bytes); };
        form.log = &scope.provider->log;
        form.device = dev;
        scope.provider->log.calls.clear();
    }

    std::vector<std::string>& Log() { return scope.provider->log.calls; }

    // The call log without the tick marks.
    std::vector<std::string> Calls() {
        std::vector<std::string> out;
        for (const std::string& c : Log())
            if (c != "tick") out.push_back(c);
        return out;
    }

    // The calls that came after the first occurrence of `call`.
    std::vector<std::string> CallsAfter(const std::string& call) {
        std::vector<std::string> all = Calls(), out;
        bool seen = false;
        for (const std::string& c : all) {
            if (seen)
                out.push_back(c);
            else if (c == call)
                seen = true;
        }
        return out;
    }

    int Count(const std::string& call) {
        int n = 0;
        for (const std::string& c : Log()) n += c == call;
        return n;
    }
};
