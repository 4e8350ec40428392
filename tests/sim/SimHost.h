// A scripted host for the board tests: frames out through the driver layer,
// replies collected on the TestForm's virtual clock.
#pragma once

#include "link/Driver.h"
#include "protocol/Protocol.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A frame with its checksum appended.
inline Bytes Framed(Bytes bytes) {
    bytes.push_back(proto::FrameChecksum(bytes.data(), bytes.size()));
    return bytes;
}

inline Bytes BlockCommand(uint32_t address, const uint8_t* data) {
    Bytes f(5 + proto::kBlockSize);
    f[0] = proto::kProgram;
    for (int i = 0; i < 4; ++i) f[1 + i] = static_cast<uint8_t>(address >> (24 - 8 * i));
    std::copy(data, data + proto::kBlockSize, f.begin() + 5);
    return Framed(f);
}

// A block command whose 128 bytes are all `fill`.
inline Bytes Block(uint32_t address, uint8_t fill) {
    uint8_t data[proto::kBlockSize];
    std::fill(std::begin(data), std::end(data), fill);
    return BlockCommand(address, data);
}

// Pumps until at least `want` bytes wait and nothing more is on its way, or
// `ticks` ticks have passed, then takes everything that waits.
inline Bytes Collect(TestForm& form, size_t want, int ticks = 10) {
    form.WaitTicks = ticks;
    uint32_t rx = 0, tx = 0, ev = 0;
    while (form.WaitTicks != 0) {
        GetStatus(DeviceHandle, &rx, &tx, &ev);
        if (rx >= want && LinkNextDue(DeviceHandle) < 0) break;
        form.ProcessMessages();
    }
    GetStatus(DeviceHandle, &rx, &tx, &ev);
    Bytes got(rx);
    uint32_t n = 0;
    ReadBytes(DeviceHandle, got.data(), rx, &n);
    got.resize(n);
    return got;
}

// Purges, writes the frame and collects the reply.
inline Bytes Exchange(TestForm& form, const Bytes& frame, size_t want = 1, int ticks = 10) {
    PurgeBuffers(DeviceHandle, PURGE_BOTH);
    uint32_t written = 0;
    WriteBytes(DeviceHandle, frame.data(), static_cast<uint32_t>(frame.size()), &written);
    return Collect(form, want, ticks);
}

// The line sequences of the writer.
inline void EnterBootModeLines(TestForm& form) {
    ClearDtr(DeviceHandle);
    ClearRts(DeviceHandle);
    form.WaitForTicks(1);
    SetDtr(DeviceHandle);
    ClearRts(DeviceHandle);
}
inline void ResetTargetLines(TestForm& form) {
    SetRts(DeviceHandle);
    SetDtr(DeviceHandle);
    form.WaitForTicks(2);
    ClearDtr(DeviceHandle);
}

// The frames the writer sends, up to the user-MAT selection.
inline const Bytes kSelectDevice{0x10, 0x04, 0x33, 0x75, 0x30, 0x31, 0xE3};
inline const Bytes kSelectClockMode{0x11, 0x01, 0x00, 0xEE};
inline const Bytes kNewBitRate38400{0x3F, 0x07, 0x01, 0x80, 0x04, 0xE2, 0x02, 0x04, 0x02, 0x4B};

// From a restart into boot mode to the acknowledged 0xE6.
inline void Adjust(TestForm& form) {
    EnterBootModeLines(form);
    form.WaitForTicks(1);
    ASSERT_EQ(Exchange(form, {0x00}), Bytes{0x00});
    ASSERT_EQ(Exchange(form, {0x55}), Bytes{0xE6});
}

// Up to the confirmed new bit rate: both sides at 38400 bit/s, the flash not
// yet erased.
inline void ToNewBitRate(TestForm& form) {
    Adjust(form);
    ASSERT_EQ(Exchange(form, kSelectDevice), Bytes{0x06});
    ASSERT_EQ(Exchange(form, kSelectClockMode), Bytes{0x06});
    ASSERT_EQ(Exchange(form, kNewBitRate38400), Bytes{0x06});
    SetBaudRate(DeviceHandle, 38400);
    ASSERT_EQ(Exchange(form, {0x06}), Bytes{0x06});
}

// Up to the chip's programming state, at 38400 bit/s, with every reply as
// the writer awaits it.
inline void ToProgramming(TestForm& form) {
    ToNewBitRate(form);
    ASSERT_EQ(Exchange(form, {0x40}, 1, 300), Bytes{0x06});
    ASSERT_EQ(Exchange(form, {0x43}), Bytes{0x06});
}

// True when a frame's bytes, its checksum included, sum to 0 modulo 256.
inline bool SumsToZero(const Bytes& b) { return proto::FrameChecksum(b.data(), b.size()) == 0; }

inline std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }
