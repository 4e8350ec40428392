#include "sim/SimProvider.h"

#include "link/Driver.h"
#include "sim/SimBoard.h"

#include <sys/timerfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>

namespace {

// The opened converter: every operation first brings the board up to the
// clock, then acts on its host side.
class SimDevice : public LinkDevice {
public:
    SimDevice(SimBoard& board, Clock& clock, bool realTime) : board_(board), clock_(clock), realTime_(realTime) {
        if (realTime_) timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    }
    ~SimDevice() override {
        if (timerFd_ >= 0) ::close(timerFd_);
    }

    uint32_t SetBaudRate(uint32_t rate) override {
        return Op([&] {
            if (rate == 0) return static_cast<uint32_t>(LINK_INVALID_PARAMETER);
            board_.SetHostRate(rate);
            return static_cast<uint32_t>(LINK_OK);
        });
    }
    uint32_t SetDataCharacteristics(uint8_t bits, uint8_t stop, uint8_t parity) override {
        return Op([&] {
            board_.SetHostFraming(bits, stop, parity);
            return static_cast<uint32_t>(LINK_OK);
        });
    }
    uint32_t SetTimeouts(uint32_t, uint32_t) override {
        return Op([] { return static_cast<uint32_t>(LINK_OK); });
    }
    uint32_t SetUsbParameters(uint32_t, uint32_t) override {
        return Op([] { return static_cast<uint32_t>(LINK_OK); });
    }
    uint32_t PurgeBuffers(uint32_t mask) override {
        return Op([&] {
            board_.HostPurge(mask);
            return static_cast<uint32_t>(LINK_OK);
        });
    }
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t count, uint32_t* written) override {
        return Op([&] {
            board_.HostWrite(buffer, count);
            *written = count;
            return static_cast<uint32_t>(LINK_OK);
        });
    }
    uint32_t GetStatus(uint32_t* rxCount, uint32_t* txCount, uint32_t* events) override {
        return Op([&] {
            *rxCount = static_cast<uint32_t>(board_.HostReceiveQueue().size());
            *txCount = board_.HostPendingTx();
            *events = 0;
            return static_cast<uint32_t>(LINK_OK);
        });
    }
    uint32_t ReadBytes(uint8_t* buffer, uint32_t count, uint32_t* read) override {
        return Op([&] {
            auto& q = board_.HostReceiveQueue();
            uint32_t k = 0;
            while (k < count && !q.empty()) {
                buffer[k++] = q.front();
                q.pop_front();
            }
            *read = k;
            return static_cast<uint32_t>(LINK_OK);
        });
    }
    uint32_t SetDtr() override {
        return Line([&] { board_.SetDtr(true); });
    }
    uint32_t ClearDtr() override {
        return Line([&] { board_.SetDtr(false); });
    }
    uint32_t SetRts() override {
        return Line([&] { board_.SetRts(true); });
    }
    uint32_t ClearRts() override {
        return Line([&] { board_.SetRts(false); });
    }

    int EventFd() override { return timerFd_; }
    void Service() override {
        if (timerFd_ < 0) return;
        uint64_t expirations = 0;
        while (::read(timerFd_, &expirations, sizeof expirations) < 0 && errno == EINTR) {
        }
        board_.Advance(clock_.NowMicros());
        Rearm();
    }
    int64_t NextDue() override {
        if (realTime_) return -1;
        board_.Advance(clock_.NowMicros());
        return board_.NextDue();
    }

private:
    template <class F>
    uint32_t Op(F action) {
        if (!board_.TakeDriverCall()) return LINK_IO_ERROR;
        board_.Advance(clock_.NowMicros());
        uint32_t status = action();
        Rearm();
        return status;
    }
    template <class F>
    uint32_t Line(F action) {
        return Op([&] {
            action();
            return static_cast<uint32_t>(LINK_OK);
        });
    }

    // Arms the timer descriptor to the moment the host should next look.
    void Rearm() {
        if (timerFd_ < 0) return;
        itimerspec expiry{};
        const int64_t due = board_.NextWake();
        if (due >= 0) {
            int64_t wait = due - clock_.NowMicros();
            if (wait < 1) wait = 1;
            expiry.it_value.tv_sec = static_cast<time_t>(wait / 1000000);
            expiry.it_value.tv_nsec = static_cast<long>(wait % 1000000) * 1000;
        }
        ::timerfd_settime(timerFd_, 0, &expiry, nullptr);
    }

    SimBoard& board_;
    Clock& clock_;
    bool realTime_;
    int timerFd_ = -1;
};

}  // namespace

struct SimProvider::Impl {
    Impl(const SimOptions& options, Clock& clock, bool realTime) : board(options), clock(clock), realTime(realTime) {
        board.Advance(clock.NowMicros());
    }
    SimBoard board;
    Clock& clock;
    bool realTime;
    std::unique_ptr<SimDevice> device;
};

SimProvider::SimProvider(const SimOptions& options, Clock& clock, bool realTime)
    : impl_(new Impl(options, clock, realTime)) {}
SimProvider::~SimProvider() = default;

std::vector<LinkProvider::Entry> SimProvider::List() {
    if (impl_->board.Unplugged()) return {};
    return {{kSimSerialNumber, "sim"}};
}

uint32_t SimProvider::Open(const std::string& serial, LinkDevice** device) {
    const std::string mine = kSimSerialNumber;
    if (impl_->board.Unplugged() || serial.empty() || mine.compare(0, serial.size(), serial) != 0 ||
        serial.size() > mine.size())
        return LINK_DEVICE_NOT_FOUND;
    if (!impl_->device) impl_->device = std::make_unique<SimDevice>(impl_->board, impl_->clock, impl_->realTime);
    *device = impl_->device.get();
    return LINK_OK;
}

SimBoard& SimProvider::Board() { return impl_->board; }
