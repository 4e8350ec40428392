// One opened converter behind the driver layer. A backend (the tty backend,
// the simulated board) implements this; the free functions of link/Driver.h
// dispatch to it. Methods follow the contracts given in link/Driver.h.
#pragma once

#include <cstdint>

struct LinkDevice {
    virtual ~LinkDevice() = default;

    virtual uint32_t SetBaudRate(uint32_t rate) = 0;
    virtual uint32_t SetDataCharacteristics(uint8_t bits, uint8_t stop, uint8_t parity) = 0;
    virtual uint32_t SetTimeouts(uint32_t readMs, uint32_t writeMs) = 0;
    virtual uint32_t SetUsbParameters(uint32_t inSize, uint32_t outSize) = 0;
    virtual uint32_t PurgeBuffers(uint32_t mask) = 0;
    virtual uint32_t WriteBytes(const uint8_t* buffer, uint32_t count, uint32_t* written) = 0;
    virtual uint32_t GetStatus(uint32_t* rxCount, uint32_t* txCount, uint32_t* events) = 0;
    virtual uint32_t ReadBytes(uint8_t* buffer, uint32_t count, uint32_t* read) = 0;
    virtual uint32_t SetDtr() = 0;
    virtual uint32_t ClearDtr() = 0;
    virtual uint32_t SetRts() = 0;
    virtual uint32_t ClearRts() = 0;

    virtual int EventFd() { return -1; }
    virtual void Service() {}
    virtual int64_t NextDue() { return -1; }
};
