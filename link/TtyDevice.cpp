#include "link/TtyDevice.h"

#include "link/OsStatus.h"
#include "link/TtyRate.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace {

// Beyond this many waiting bytes, newly received ones are dropped, as a
// converter's own buffer overflows; nobody reads that far behind.
constexpr size_t kQueueLimit = 1u << 20;

// A write that finds the kernel's output buffer full waits for room this
// often, kWriteWaitMs each time, before it gives up.
constexpr int kWriteWaits = 50;
constexpr int kWriteWaitMs = 20;

// Errors that mean the port itself is gone, not just that one call failed.
bool PortLost(int error) { return error == EIO || error == ENODEV || error == ENXIO || error == EBADF; }

}  // namespace

uint32_t TtyDevice::Open(const std::string& path, std::unique_ptr<TtyDevice>* out, std::string* reason) {
    const auto failed = [&](int error) {
        if (reason) *reason = OsReason(path, error);
        return LinkStatusFromErrno(error);
    };

    // 1. Open without becoming the controlling terminal and without waiting
    //    for carrier.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failed(errno);

    // 2. Raw 8N1 at 19200 bit/s, receiver on, modem status ignored, no
    //    hardware or software flow control. VMIN 1 with O_NONBLOCK makes an
    //    empty read fail with EAGAIN, so a read of 0 bytes means hang-up.
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(error);
    }
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(error);
    }

    // 3. Keep other programs off the port while we hold it.
    ioctl(fd, TIOCEXCL);

    std::unique_ptr<TtyDevice> device(new TtyDevice(fd, path));

    // 4. The kernel raised DTR and RTS on open: drop both at once so the
    //    target is not held in reset. Refused on a pseudo-terminal.
    device->ModemLines(TIOCMBIC, TIOCM_DTR | TIOCM_RTS);

    // 5. Ask for low latency; drivers without it refuse, which is fine. A
    //    custom speed left on the port by another program (setserial
    //    spd_cust and the like) would make ftdi_sio run B38400 at that speed
    //    instead, so those speed flags are dropped at the same time.
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags = (serial.flags & ~ASYNC_SPD_MASK) | ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }

    // 6. Start with nothing left over from before the open.
    tcflush(fd, TCIOFLUSH);

    *out = std::move(device);
    return LINK_OK;
}

TtyDevice::~TtyDevice() {
    if (fd_ >= 0) ::close(fd_);
    if (quietWriter_ >= 0) ::close(quietWriter_);
}

uint32_t TtyDevice::Fail(int error) {
    if (PortLost(error)) MakeDead();
    return LinkStatusFromErrno(error);
}

void TtyDevice::MakeDead() {
    if (dead_) return;
    dead_ = true;
    queue_.clear();
    // Put the read end of an idle pipe in place of the lost port under the
    // same descriptor number: whoever waits on EventFd keeps a valid
    // descriptor that never turns readable (a hung-up tty would be readable
    // for ever). The write end stays open so the pipe never reports EOF.
    int quiet[2];
    if (pipe2(quiet, O_CLOEXEC) == 0) {
        dup2(quiet[0], fd_);
        ::close(quiet[0]);
        quietWriter_ = quiet[1];
    }
}

uint32_t TtyDevice::Drain() {
    if (dead_) return LINK_DEVICE_NOT_FOUND;
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            const size_t room = kQueueLimit - std::min(kQueueLimit, queue_.size());
            queue_.insert(queue_.end(), buffer, buffer + std::min(room, static_cast<size_t>(n)));
            continue;
        }
        if (n == 0) return Fail(ENODEV);  // hang-up: the converter went away
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return LINK_OK;
        return Fail(errno);
    }
}

uint32_t TtyDevice::SetBaudRate(uint32_t rate) {
    if (dead_) return LINK_DEVICE_NOT_FOUND;
    if (rate == 0) return LINK_INVALID_PARAMETER;  // B0 would hang the line up
    uint32_t before = 0, now = 0;
    if (const int error = GetTtyRate(fd_, &before)) return Fail(error);
    if (const int error = SetTtyRate(fd_, rate)) return Fail(error);
    if (const int error = GetTtyRate(fd_, &now)) return Fail(error);
    if (!RateWithinRounding(rate, now)) {
        // The driver set something else (ftdi_sio falls back to 9600 bit/s
        // for a rate its divisor cannot reach): put the previous rate back
        // so that a refused rate changes nothing.
        SetTtyRate(fd_, before);
        return LINK_INVALID_PARAMETER;
    }
    return LINK_OK;
}

uint32_t TtyDevice::SetDataCharacteristics(uint8_t bits, uint8_t stop, uint8_t parity) {
    if (dead_) return LINK_DEVICE_NOT_FOUND;
    tcflag_t size;
    switch (bits) {
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return LINK_INVALID_PARAMETER;
    }
    if (stop != 0 && stop != 2) return LINK_INVALID_PARAMETER;  // one or two stop bits
    // Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space.
    if (parity > 4) return LINK_INVALID_PARAMETER;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return Fail(errno);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    t.c_cflag |= size;
    if (stop == 2) t.c_cflag |= CSTOPB;
    switch (parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return Fail(errno);
    return LINK_OK;
}

// Reads and writes never block here, so there is nothing to time out.
uint32_t TtyDevice::SetTimeouts(uint32_t, uint32_t) { return dead_ ? LINK_DEVICE_NOT_FOUND : LINK_OK; }

// ftdi_sio chooses its own USB transfer sizes.
uint32_t TtyDevice::SetUsbParameters(uint32_t, uint32_t) { return dead_ ? LINK_DEVICE_NOT_FOUND : LINK_OK; }

uint32_t TtyDevice::PurgeBuffers(uint32_t mask) {
    if (dead_) return LINK_DEVICE_NOT_FOUND;
    const bool rx = (mask & PURGE_RX) != 0, tx = (mask & PURGE_TX) != 0;
    if (!rx && !tx) return LINK_OK;
    if (tcflush(fd_, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) != 0) return Fail(errno);
    if (rx) queue_.clear();
    return LINK_OK;
}

uint32_t TtyDevice::WriteBytes(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    *written = 0;
    if (dead_) return LINK_DEVICE_NOT_FOUND;
    uint32_t done = 0;
    int waits = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, buffer + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (++waits > kWriteWaits) break;
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, kWriteWaitMs);
            continue;
        }
        *written = done;
        return Fail(n < 0 ? errno : EIO);
    }
    *written = done;
    return done == count ? LINK_OK : LINK_IO_ERROR;
}

uint32_t TtyDevice::GetStatus(uint32_t* rxCount, uint32_t* txCount, uint32_t* events) {
    *rxCount = *txCount = *events = 0;
    const uint32_t status = Drain();
    if (status != LINK_OK) return status;
    *rxCount = queue_.size() > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(queue_.size());
    int pending = 0;
    if (ioctl(fd_, TIOCOUTQ, &pending) == 0 && pending > 0) *txCount = static_cast<uint32_t>(pending);
    return LINK_OK;
}

uint32_t TtyDevice::ReadBytes(uint8_t* buffer, uint32_t count, uint32_t* read) {
    *read = 0;
    const uint32_t status = Drain();
    if (status != LINK_OK) return status;
    uint32_t n = 0;
    while (n < count && !queue_.empty()) {
        buffer[n++] = queue_.front();
        queue_.pop_front();
    }
    *read = n;
    return LINK_OK;
}

uint32_t TtyDevice::ModemLines(unsigned long request, int lines) {
    if (dead_) return LINK_DEVICE_NOT_FOUND;
    if (ioctl(fd_, request, &lines) != 0) return Fail(errno);
    return LINK_OK;
}

uint32_t TtyDevice::SetDtr() { return ModemLines(TIOCMBIS, TIOCM_DTR); }
uint32_t TtyDevice::ClearDtr() { return ModemLines(TIOCMBIC, TIOCM_DTR); }
uint32_t TtyDevice::SetRts() { return ModemLines(TIOCMBIS, TIOCM_RTS); }
uint32_t TtyDevice::ClearRts() { return ModemLines(TIOCMBIC, TIOCM_RTS); }
