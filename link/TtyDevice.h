// One serial tty as a converter of the driver layer: an FTDI converter under
// the kernel's ftdi_sio driver (/dev/ttyUSB<n>), any other serial tty, or a
// pseudo-terminal.
//
// Contract
// - Open: O_RDWR | O_NOCTTY | O_NONBLOCK, raw 8N1 at 19200 bit/s, no flow
//   control of any kind, exclusive use (TIOCEXCL). Right after opening both
//   modem lines are cleared in one call (the kernel raises DTR and RTS on
//   open, which would hold a target in reset) and low latency is asked for
//   (ASYNC_LOW_LATENCY: ftdi_sio then sets a 1 ms latency timer), dropping
//   any custom-speed flags left on the port, which would change what 38400
//   bit/s means; a refusal of either is ignored, as on a pseudo-terminal.
// - SetBaudRate sets any rate above 0 (link/TtyRate.h: the Bnnn constant
//   where one names the rate, otherwise the number itself), then reads back
//   the rate the driver reports. A read-back beyond the converter's own
//   rounding (RateWithinRounding) puts the previous rate back and returns
//   LINK_INVALID_PARAMETER; so does rate 0.
// - Received bytes are moved from the descriptor into a user-space queue by
//   Service, GetStatus and ReadBytes. GetStatus reports the exact queue count;
//   ReadBytes takes from the queue, oldest first, and never blocks.
// - EventFd is the descriptor: readable while bytes wait in the kernel, quiet
//   once Service has taken them.
// - When the port goes away (converter unplugged: hang-up, EIO, ENODEV) the
//   device turns dead: every operation returns non-zero and does nothing, the
//   queue is empty, and EventFd stays a valid descriptor that never becomes
//   readable again, so an event loop waiting on it does not spin.
// - Every OS error is translated once (link/OsStatus.h).
#pragma once

#include "link/Device.h"
#include "link/Driver.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class TtyDevice : public LinkDevice {
public:
    // Opens and configures `path`. On success stores the device in *out and
    // returns LINK_OK; otherwise returns the status, leaves *out alone and,
    // when `reason` is given, stores there the path with the operating
    // system's reason (link/OsStatus.h, OsReason).
    static uint32_t Open(const std::string& path, std::unique_ptr<TtyDevice>* out, std::string* reason = nullptr);
    ~TtyDevice() override;

    TtyDevice(const TtyDevice&) = delete;
    TtyDevice& operator=(const TtyDevice&) = delete;

    const std::string& Path() const { return path_; }
    bool Dead() const { return dead_; }

    uint32_t SetBaudRate(uint32_t rate) override;
    uint32_t SetDataCharacteristics(uint8_t bits, uint8_t stop, uint8_t parity) override;
    uint32_t SetTimeouts(uint32_t readMs, uint32_t writeMs) override;
    uint32_t SetUsbParameters(uint32_t inSize, uint32_t outSize) override;
    uint32_t PurgeBuffers(uint32_t mask) override;
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t count, uint32_t* written) override;
    uint32_t GetStatus(uint32_t* rxCount, uint32_t* txCount, uint32_t* events) override;
    uint32_t ReadBytes(uint8_t* buffer, uint32_t count, uint32_t* read) override;
    uint32_t SetDtr() override;
    uint32_t ClearDtr() override;
    uint32_t SetRts() override;
    uint32_t ClearRts() override;

    int EventFd() override { return fd_; }
    void Service() override { Drain(); }

private:
    TtyDevice(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    // Moves everything the kernel holds into the queue. Returns LINK_OK, or
    // the status of the failure that made the device dead.
    uint32_t Drain();
    // Records a failure of errno `error`; a lost port makes the device dead.
    uint32_t Fail(int error);
    void MakeDead();
    uint32_t ModemLines(unsigned long request, int lines);

    int fd_;
    int quietWriter_ = -1;  // keeps the stand-in pipe of a dead device open
    std::string path_;
    bool dead_ = false;
    std::deque<uint8_t> queue_;
};
