// A recording fake of the driver layer: a provider with a fixed list of
// converters and a device that logs every operation, returns scripted bytes
// and can be told to fail. For tests of the callers' exact driver traffic.
#pragma once

#include "link/Device.h"
#include "link/Driver.h"
#include "link/Provider.h"

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct FakeLog {
    std::vector<std::string> calls;
    bool logStatusPolls = false;  // GetStatus is called often; log it only when asked
};

struct FakeDevice : LinkDevice {
    explicit FakeDevice(FakeLog& log) : log(log) {}

    FakeLog& log;
    std::deque<uint8_t> rx;                    // bytes waiting to be read
    std::vector<std::vector<uint8_t>> writes;  // every WriteBytes, in order
    uint32_t failStatus = LINK_OK;             // non-zero: every operation fails with it
    uint32_t failReads = LINK_OK;              // non-zero: ReadBytes fails with it
    uint32_t rate = 0;
    bool dtr = false, rts = false;
    // Called after each WriteBytes with the bytes written (to script replies).
    std::function<void(const std::vector<uint8_t>&)> onWrite;

    void Log(const std::string& s) { log.calls.push_back(s); }
    static std::string Hex(const uint8_t* b, uint32_t n) {
        std::string s;
        char t[4];
        for (uint32_t i = 0; i < n; ++i) {
            std::snprintf(t, sizeof t, i ? " %02X" : "%02X", b[i]);
            s += t;
        }
        return s;
    }

    uint32_t SetBaudRate(uint32_t r) override {
        Log("SetBaudRate " + std::to_string(r));
        if (failStatus) return failStatus;
        rate = r;
        return LINK_OK;
    }
    uint32_t SetDataCharacteristics(uint8_t b, uint8_t s, uint8_t p) override {
        Log("SetDataCharacteristics " + std::to_string(b) + " " + std::to_string(s) + " " + std::to_string(p));
        return failStatus;
    }
    uint32_t SetTimeouts(uint32_t r, uint32_t w) override {
        Log("SetTimeouts " + std::to_string(r) + " " + std::to_string(w));
        return failStatus;
    }
    uint32_t SetUsbParameters(uint32_t i, uint32_t o) override {
        Log("SetUsbParameters " + std::to_string(i) + " " + std::to_string(o));
        return failStatus;
    }
    uint32_t PurgeBuffers(uint32_t mask) override {
        Log("PurgeBuffers " + std::to_string(mask));
        if (failStatus) return failStatus;
        if (mask & PURGE_RX) rx.clear();
        return LINK_OK;
    }
    uint32_t WriteBytes(const uint8_t* b, uint32_t n, uint32_t* written) override {
        Log("WriteBytes " + Hex(b, n));
        if (failStatus) return failStatus;
        writes.emplace_back(b, b + n);
        *written = n;
        if (onWrite) onWrite(writes.back());
        return LINK_OK;
    }
    uint32_t GetStatus(uint32_t* rxCount, uint32_t* tx, uint32_t* ev) override {
        if (log.logStatusPolls) Log("GetStatus");
        if (failStatus) return failStatus;
        *rxCount = static_cast<uint32_t>(rx.size());
        *tx = 0;
        *ev = 0;
        return LINK_OK;
    }
    uint32_t ReadBytes(uint8_t* b, uint32_t n, uint32_t* read) override {
        Log("ReadBytes " + std::to_string(n));
        if (failStatus) return failStatus;
        if (failReads) return failReads;
        uint32_t k = 0;
        while (k < n && !rx.empty()) {
            b[k++] = rx.front();
            rx.pop_front();
        }
        *read = k;
        return LINK_OK;
    }
    uint32_t SetDtr() override {
        Log("SetDtr");
        if (failStatus) return failStatus;
        dtr = true;
        return LINK_OK;
    }
    uint32_t ClearDtr() override {
        Log("ClearDtr");
        if (failStatus) return failStatus;
        dtr = false;
        return LINK_OK;
    }
    uint32_t SetRts() override {
        Log("SetRts");
        if (failStatus) return failStatus;
        rts = true;
        return LINK_OK;
    }
    uint32_t ClearRts() override {
        Log("ClearRts");
        if (failStatus) return failStatus;
        rts = false;
        return LINK_OK;
    }

    void Feed(std::initializer_list<uint8_t> bytes) { rx.insert(rx.end(), bytes); }
};

struct FakeProvider : LinkProvider {
    FakeLog log;
    std::vector<Entry> entries;
    std::vector<std::unique_ptr<FakeDevice>> opened;

    std::vector<Entry> List() override {
        log.calls.push_back("ListSerialNumber");
        return entries;
    }
    uint32_t Open(const std::string& serial, LinkDevice** device) override {
        log.calls.push_back("OpenBySerialNumber " + serial);
        for (const Entry& e : entries) {
            if (!serial.empty() && e.serial.compare(0, serial.size(), serial) == 0) {
                opened.push_back(std::make_unique<FakeDevice>(log));
                *device = opened.back().get();
                return LINK_OK;
            }
        }
        return LINK_DEVICE_NOT_FOUND;
    }
    FakeDevice* Device() { return opened.empty() ? nullptr : opened.back().get(); }
};

// Installs a FakeProvider for the length of a test and resets the globals.
struct FakeLinkScope {
    FakeProvider* provider;
    FakeLinkScope() {
        auto p = std::make_unique<FakeProvider>();
        provider = p.get();
        DeviceHandle = nullptr;
        LastStatus = 0;
        SetLinkProvider(std::move(p));
    }
    ~FakeLinkScope() {
        DeviceHandle = nullptr;
        LastStatus = 0;
        SetLinkProvider(nullptr);
    }
};
