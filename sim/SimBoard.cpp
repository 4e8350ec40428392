#include "sim/SimBoard.h"

#include "protocol/Protocol.h"
#include "link/Driver.h"
#include "sim/UserProgram.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace proto;

namespace {

// What the chip offers in its inquiry replies and accepts in its selections
// (its device code and clock mode are the ones in protocol/Protocol.h).
const uint8_t kRatios[] = {1, 2, 4};             // for both clock types
constexpr uint32_t kMinInput = 800, kMaxInput = 1600;  // 0.01 MHz: 8.00 .. 16.00 MHz
constexpr uint32_t kMinClock = 800;                    // 8.00 MHz
constexpr uint32_t kMaxSystemClock = 5000;             // 50.00 MHz
constexpr uint32_t kMaxPeripheralClock = 3500;         // 35.00 MHz
constexpr double kRateTolerance = 0.03;                // of the chip's serial interface

int64_t ByteMicros(uint32_t rate) {
    // 10 bits: start, 8 data, stop.
    return static_cast<int64_t>((10ull * 1000000ull + rate - 1) / rate);
}

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool FrameSumsToZero(const std::vector<uint8_t>& f) {
    uint8_t sum = 0;
    for (uint8_t b : f) sum = static_cast<uint8_t>(sum + b);
    return sum == 0;
}

bool IsRatio(uint8_t r) { return std::find(std::begin(kRatios), std::end(kRatios), r) != std::end(kRatios); }

// The usual error code the chip gives a command that the error= fault hits.
uint8_t UsualErrorCode(int command) {
    switch (command) {
    case kDeviceSelect: return kErrDeviceCode;
    case kClockModeSelect: return kErrClockMode;
    case kNewBitRate: return kErrBitRate;
    case kEnterProgramming: return kErrErase;
    case kProgram: case kSimEndCommand: return kErrProgramming;
    default: return kErrCommand;
    }
}

}  // namespace

const char* SimStateName(SimState state) {
    switch (state) {
    case SimState::Starting: return "starting";
    case SimState::Adjusting: return "bit-rate adjustment";
    case SimState::AdjustConfirm: return "adjustment confirmation";
    case SimState::Inquiry: return "inquiry and selection";
    case SimState::RateConfirm: return "new bit rate confirmation";
    case SimState::Selected: return "bit rate selected";
    case SimState::Erasing: return "erasing";
    case SimState::ProgramErase: return "programming/erasing";
    case SimState::Programming: return "programming user MAT";
    case SimState::Writing: return "writing block";
    case SimState::UserProgram: return "user program";
    case SimState::UserBlank: return "user program (blank flash)";
    }
    return "?";
}

uint8_t SimBoard::Garble(uint8_t value, uint32_t senderRate, uint32_t receiverRate) {
    // A faster sender's bits are sampled late, a slower one's early: either
    // way some bits flip, never none.
    return static_cast<uint8_t>(value ^ (senderRate > receiverRate ? 0xF0 : 0x0F));
}

SimBoard::SimBoard(const SimOptions& options) : opt_(options), unplugAfter_(options.unplugAfter) {
    flash_.assign(opt_.flashSize, 0xFF);
    if (!opt_.flashPath.empty()) {
        // The folders of the flash file, as far as they are missing.
        for (size_t slash = opt_.flashPath.find('/', 1); slash != std::string::npos;
             slash = opt_.flashPath.find('/', slash + 1))
            ::mkdir(opt_.flashPath.substr(0, slash).c_str(), 0755);
        flashFd_ = ::open(opt_.flashPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (flashFd_ < 0) {
            flashError_ = opt_.flashPath + ": " + std::strerror(errno);
        } else {
            struct stat st {};
            ::fstat(flashFd_, &st);
            size_t got = 0;
            while (got < flash_.size()) {
                ssize_t n = ::pread(flashFd_, flash_.data() + got, flash_.size() - got, static_cast<off_t>(got));
                if (n <= 0) break;
                got += static_cast<size_t>(n);
            }
            std::fill(flash_.begin() + static_cast<std::ptrdiff_t>(got), flash_.end(), 0xFF);
            if (static_cast<uint64_t>(st.st_size) != flash_.size()) PersistAll();
        }
    }
    if (opt_.noModemLines) {
        state_ = SimState::Adjusting;
        chipRate_ = kAdjustRate;
    } else {
        const bool blank = std::all_of(flash_.begin(), flash_.end(), [](uint8_t b) { return b == 0xFF; });
        state_ = blank ? SimState::UserBlank : SimState::UserProgram;
        chipRate_ = kUserProgramRate;
    }
}

SimBoard::~SimBoard() {
    if (flashFd_ >= 0) ::close(flashFd_);
}

// ---------------------------------------------------------------- time

int64_t SimBoard::NextDue() const { return NextEvent(false); }
int64_t SimBoard::NextWake() const { return NextEvent(true); }

int64_t SimBoard::NextEvent(bool frameEnd) const {
    int64_t due = timer_ != Timer::None ? timerAt_ : -1;
    auto take = [&](int64_t t) {
        if (due < 0 || t < due) due = t;
    };
    if (!toHost_.empty()) take(toHost_.front().arrive);
    if (!toChip_.empty()) take(frameEnd ? toChip_.back().arrive : toChip_.front().arrive);
    return due;
}

void SimBoard::Advance(int64_t t) {
    for (;;) {
        // The earliest event at or before t; on a tie what reaches the host
        // first (a restart must not swallow a byte already delivered), then
        // the chip's timer, then what reaches the chip.
        int which = -1;
        int64_t due = 0;
        auto consider = [&](int kind, int64_t at) {
            if (at <= t && (which < 0 || at < due)) {
                which = kind;
                due = at;
            }
        };
        if (!toHost_.empty()) consider(1, toHost_.front().arrive);
        if (timer_ != Timer::None) consider(0, timerAt_);
        if (!toChip_.empty()) consider(2, toChip_.front().arrive);
        if (which < 0) break;
        if (due > now_) now_ = due;
        if (which == 0) {
            Timer kind = timer_;
            timer_ = Timer::None;
            switch (kind) {
            case Timer::StartupDone: StartupDone(); break;
            case Timer::EraseDone:
                std::fill(flash_.begin(), flash_.end(), 0xFF);
                PersistAll();
                ++erases_;
                state_ = SimState::ProgramErase;
                Emit({kAck}, kEnterProgramming);
                break;
            case Timer::BlockDone:
                state_ = SimState::Programming;
                Emit({kAck}, kProgram);
                break;
            case Timer::RestartUser: Restart(true); break;
            case Timer::Banner: SendBanner(); break;
            case Timer::None: break;
            }
        } else if (which == 1) {
            WireByte b = toHost_.front();
            toHost_.pop_front();
            ArriveAtHost(b);
        } else {
            WireByte b = toChip_.front();
            toChip_.pop_front();
            ArriveAtChip(b);
        }
    }
    if (t > now_) now_ = t;
}

void SimBoard::Arm(Timer kind, int64_t after) {
    timer_ = kind;
    timerAt_ = now_ + after;
}

// ---------------------------------------------------------------- host side

void SimBoard::SetHostRate(uint32_t rate) {
    if (rate > 0) hostRate_ = rate;
}

void SimBoard::SetHostFraming(uint8_t bits, uint8_t stop, uint8_t parity) {
    hostFramingOk_ = bits == BITS_8 && stop == STOP_BITS_1 && parity == PARITY_NONE;
}

void SimBoard::HostWrite(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        WireByte w{bytes[i], hostRate_, hostFramingOk_, std::max(now_, toChipFree_), 0};
        w.arrive = w.start + ByteMicros(hostRate_);
        toChipFree_ = w.arrive;
        toChip_.push_back(w);
    }
}

void SimBoard::HostPurge(uint32_t mask) {
    if (mask & PURGE_RX) hostRx_.clear();
    if (mask & PURGE_TX) {
        while (!toChip_.empty() && toChip_.back().start > now_) toChip_.pop_back();
        toChipFree_ = toChip_.empty() ? now_ : toChip_.back().arrive;
    }
}

void SimBoard::SetDtr(bool level) {
    if (level == dtr_) return;
    dtr_ = level;
    if (!opt_.noModemLines) Restart(rts_);
}

void SimBoard::SetRts(bool level) { rts_ = level; }

bool SimBoard::TakeDriverCall() {
    if (unplugged_) return false;
    ++driverCalls_;
    if (unplugAfter_ >= 0 && driverCalls_ > static_cast<uint64_t>(unplugAfter_)) {
        unplugged_ = true;
        return false;
    }
    return true;
}

void SimBoard::SetUnplugAfter(int64_t calls) {
    unplugAfter_ = calls;
    driverCalls_ = 0;
}

void SimBoard::ArriveAtHost(const WireByte& b) {
    const bool match = b.rate == hostRate_ && hostFramingOk_;
    hostRx_.push_back(match ? b.value : Garble(b.value, b.rate, hostRate_));
}

// ---------------------------------------------------------------- flash

void SimBoard::LoadFlash(const std::vector<uint8_t>& bytes) {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    std::copy_n(bytes.begin(), std::min(bytes.size(), flash_.size()), flash_.begin());
    PersistAll();
    // A running user program is as if it had started from this flash long ago.
    if (state_ == SimState::UserBlank || state_ == SimState::UserProgram) {
        const bool blank = std::all_of(flash_.begin(), flash_.end(), [](uint8_t b) { return b == 0xFF; });
        state_ = blank ? SimState::UserBlank : SimState::UserProgram;
    }
}

void SimBoard::PersistAll() { PersistRange(0, flash_.size()); }

void SimBoard::PersistRange(size_t offset, size_t length) {
    if (flashFd_ < 0) return;
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(flashFd_, flash_.data() + offset + done, length - done, static_cast<off_t>(offset + done));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            flashError_ = opt_.flashPath + ": " + std::strerror(errno);
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// ---------------------------------------------------------------- chip

std::vector<std::vector<uint8_t>> SimBoard::FramesOf(uint8_t command) const {
    std::vector<std::vector<uint8_t>> out;
    for (const SimFrame& f : frames_)
        if (!f.bytes.empty() && f.bytes[0] == command) out.push_back(f.bytes);
    return out;
}

void SimBoard::Restart(bool userProgram) {
    // The chip's transmitter stops at once; its half-built frame is gone.
    toHost_.clear();
    toHostFree_ = now_;
    frame_.clear();
    zeros_ = 0;
    deviceSelected_ = clockSelected_ = false;
    blockFrames_ = 0;
    if (userProgram) ++userRestarts_;
    else ++bootRestarts_;
    restartIntoUser_ = userProgram;
    state_ = SimState::Starting;
    Arm(Timer::StartupDone, opt_.startupMicros);
}

void SimBoard::StartupDone() {
    if (!restartIntoUser_) {
        state_ = SimState::Adjusting;
        chipRate_ = kAdjustRate;
        return;
    }
    chipRate_ = kUserProgramRate;
    const bool blank = std::all_of(flash_.begin(), flash_.end(), [](uint8_t b) { return b == 0xFF; });
    if (blank) {
        state_ = SimState::UserBlank;
        return;
    }
    // The program echoes at once but initialises before it greets; a second
    // restart within that time (the reset pulse's other edge) starts it over,
    // so one reset pulse gives one banner.
    state_ = SimState::UserProgram;
    Arm(Timer::Banner, opt_.bannerDelayMicros);
}

void SimBoard::SendBanner() {
    std::string banner = UserProgramBanner(SummarizeFlash(flash_.data(), flash_.size()));
    Emit(std::vector<uint8_t>(banner.begin(), banner.end()), -1);
}

void SimBoard::Emit(const std::vector<uint8_t>& bytes, int command) {
    if (opt_.silent) return;
    const bool garble = command >= 0 && command == opt_.garbleCommand;
    for (uint8_t v : bytes) {
        uint8_t value = garble ? Garble(v, chipRate_ * 2, chipRate_) : v;
        chipTx_.push_back(value);
        WireByte w{value, chipRate_, true, std::max(now_, toHostFree_), 0};
        w.arrive = w.start + ByteMicros(chipRate_);
        toHostFree_ = w.arrive;
        toHost_.push_back(w);
    }
}

void SimBoard::Reply(uint8_t code, const std::vector<uint8_t>& data, int command) {
    std::vector<uint8_t> f;
    f.push_back(code);
    f.push_back(static_cast<uint8_t>(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(FrameChecksum(f.data(), f.size()));
    Emit(f, command);
}

void SimBoard::Error(int command, uint8_t code) {
    const uint8_t c = command == kSimEndCommand ? kProgram : static_cast<uint8_t>(command);
    Emit({static_cast<uint8_t>(c | kErrorFlag), code}, command);
}

void SimBoard::ArriveAtChip(const WireByte& b) {
    const bool match = b.rate == chipRate_ && b.framingOk;
    const uint8_t value = match ? b.value : Garble(b.value, b.rate, chipRate_);
    switch (state_) {
    case SimState::Starting:
    case SimState::Erasing:
    case SimState::Writing:
    case SimState::UserBlank:
        ++lost_;
        return;
    default:
        break;
    }
    chipRx_.push_back(value);
    Receive(value);
}

size_t SimBoard::FrameLength(const std::vector<uint8_t>& f) const {
    switch (f[0]) {
    case kDeviceSelect:
    case kClockModeSelect:
    case kNewBitRate:
        return f.size() < 2 ? 0 : 3u + f[1];
    case kProgram:
        if (f.size() < 5) return 0;
        return Be32(&f[1]) == 0xFFFFFFFFu ? 6 : kBlockCommandSize;
    default:
        return 1;
    }
}

void SimBoard::Receive(uint8_t b) {
    switch (state_) {
    case SimState::Adjusting:
        frames_.push_back({state_, {b}, now_});
        if (b != kSyncByte) {
            zeros_ = 0;  // nothing to measure in it
            return;
        }
        if (++zeros_ >= opt_.syncZeros) {
            state_ = SimState::AdjustConfirm;
            Emit({kSyncAnswer}, kSyncByte);
        }
        return;
    case SimState::AdjustConfirm:
        frames_.push_back({state_, {b}, now_});
        if (b == kSyncByte) {
            Emit({kSyncAnswer}, kSyncByte);  // a late measuring byte
        } else if (b == kSyncConfirm && !opt_.noE6) {
            state_ = SimState::Inquiry;
            Emit({kSyncConfirmed}, kSyncConfirm);
        } else {
            state_ = SimState::Adjusting;
            zeros_ = 0;
            Emit({kSyncFailed}, kSyncConfirm);
        }
        return;
    case SimState::RateConfirm:
        // Only the confirmation, one byte, is expected here.
        Dispatch({b});
        return;
    case SimState::UserProgram:
        Emit({b}, -1);
        return;
    default:
        break;
    }
    frame_.push_back(b);
    size_t need = FrameLength(frame_);
    if (need == 0 || frame_.size() < need) return;
    std::vector<uint8_t> f;
    f.swap(frame_);
    Dispatch(f);
}

void SimBoard::Dispatch(const std::vector<uint8_t>& f) {
    frames_.push_back({state_, f, now_});
    const uint8_t c = f[0];
    const bool end = c == kProgram && f.size() == 6;
    const int command = end ? kSimEndCommand : c;
    const bool inquiryPhase = state_ == SimState::Inquiry || state_ == SimState::Selected;

    // 1. The no-reply fault swallows one block whole.
    if (c == kProgram && !end && state_ == SimState::Programming && ++blockFrames_ == opt_.noReplyBlock) return;
    // 2. The error fault answers its command with an error, whatever it holds.
    if (command == opt_.errorCommand) {
        Error(command, opt_.errorCode >= 0 ? static_cast<uint8_t>(opt_.errorCode) : UsualErrorCode(command));
        return;
    }
    // 3. The confirmation of a new bit rate.
    if (state_ == SimState::RateConfirm) {
        if (c != kBitRateConfirm) {
            Error(c, kErrCommand);
            return;
        }
        state_ = SimState::Selected;
        Emit({kAck}, kBitRateConfirm);
        return;
    }
    // 4. Framed commands carry a checksum.
    if (f.size() > 1 && !FrameSumsToZero(f)) {
        Error(command, kErrChecksum);
        return;
    }
    switch (c) {
    case kDeviceInquiry:
        if (!inquiryPhase) break;
        {
            std::vector<uint8_t> d;
            d.push_back(1);  // one device
            d.push_back(static_cast<uint8_t>(sizeof kDeviceCode + opt_.productName.size()));
            d.insert(d.end(), std::begin(kDeviceCode), std::end(kDeviceCode));
            d.insert(d.end(), opt_.productName.begin(), opt_.productName.end());
            Reply(kDeviceInquiryReply, d, c);
        }
        return;
    case kDeviceSelect:
        if (!inquiryPhase) break;
        if (f[1] != sizeof kDeviceCode || !std::equal(std::begin(kDeviceCode), std::end(kDeviceCode), f.begin() + 2)) {
            Error(c, kErrDeviceCode);
            return;
        }
        deviceSelected_ = true;
        Emit({kAck}, c);
        return;
    case kClockModeInquiry:
        if (!inquiryPhase || !deviceSelected_) break;
        Reply(kClockModeReply, {kClockMode}, c);
        return;
    case kClockModeSelect:
        if (!inquiryPhase || !deviceSelected_) break;
        if (f[1] != 1 || f[2] != kClockMode) {
            Error(c, kErrClockMode);
            return;
        }
        clockSelected_ = true;
        Emit({kAck}, c);
        return;
    case kRatioInquiry:
        if (!inquiryPhase || !clockSelected_) break;
        {
            // Two clock types (system, peripheral), the same ratios for both.
            std::vector<uint8_t> d{2};
            for (int type = 0; type < 2; ++type) {
                d.push_back(static_cast<uint8_t>(sizeof kRatios));
                d.insert(d.end(), std::begin(kRatios), std::end(kRatios));
            }
            Reply(kRatioReply, d, c);
        }
        return;
    case kFrequencyInquiry:
        if (!inquiryPhase || !clockSelected_) break;
        Reply(kFrequencyReply,
              {2, kMinClock >> 8, kMinClock & 0xFF, kMaxSystemClock >> 8, kMaxSystemClock & 0xFF,
               kMinClock >> 8, kMinClock & 0xFF, kMaxPeripheralClock >> 8, kMaxPeripheralClock & 0xFF},
              c);
        return;
    case kNewBitRate:
        if (!inquiryPhase || !clockSelected_) break;
        BitRateSelect(f);
        return;
    case kEnterProgramming:
        if (state_ != SimState::Selected) break;
        state_ = SimState::Erasing;
        Arm(Timer::EraseDone, opt_.eraseMicros);
        return;
    case kUserMatSelect:
        if (state_ != SimState::ProgramErase && state_ != SimState::Programming) break;
        state_ = SimState::Programming;
        Emit({kAck}, c);
        return;
    case kProgram:
        if (state_ != SimState::Programming) break;
        DispatchProgram(f);
        return;
    default:
        break;
    }
    // Unknown, or not accepted in this state.
    Error(command, kErrCommand);
}

void SimBoard::BitRateSelect(const std::vector<uint8_t>& f) {
    const uint8_t c = kNewBitRate;
    // Bit rate (100 bit/s), input clock (0.01 MHz), ratio count, ratios.
    if (f[1] != 7 || f[6] != 2) {
        Error(c, kErrRatio);
        return;
    }
    const uint32_t rate = (static_cast<uint32_t>(f[2]) << 8 | f[3]) * 100u;
    const uint32_t input = static_cast<uint32_t>(f[4]) << 8 | f[5];
    const uint8_t systemRatio = f[7], peripheralRatio = f[8];
    if (input < kMinInput || input > kMaxInput) {
        Error(c, kErrInputFrequency);
        return;
    }
    if (!IsRatio(systemRatio) || !IsRatio(peripheralRatio)) {
        Error(c, kErrRatio);
        return;
    }
    const uint32_t system = input * systemRatio, peripheral = input * peripheralRatio;
    if (system < kMinClock || system > kMaxSystemClock || peripheral < kMinClock || peripheral > kMaxPeripheralClock) {
        Error(c, kErrOperatingFrequency);
        return;
    }
    // The serial interface divides the peripheral clock by 32 (N + 1).
    bool reachable = rate > 0;
    if (reachable) {
        const double pclk = peripheral * 10000.0;
        const double n = pclk / (32.0 * rate);
        const double divisor = n < 1 ? 1 : static_cast<double>(static_cast<long>(n + 0.5));
        const double actual = pclk / (32.0 * divisor);
        reachable = divisor <= 256 && std::abs(actual - rate) / rate <= kRateTolerance;
    }
    if (!reachable) {
        Error(c, kErrBitRate);
        return;
    }
    // Acknowledged at the old rate; everything after at the new one.
    Emit({kAck}, c);
    chipRate_ = rate;
    state_ = SimState::RateConfirm;
}

void SimBoard::DispatchProgram(const std::vector<uint8_t>& f) {
    const bool end = f.size() == 6;
    if (end) {
        Emit({kAck}, kSimEndCommand);
        if (opt_.noModemLines) {
            // No reset line: the board starts the new program by itself once
            // the acknowledgement is out.
            state_ = SimState::ProgramErase;
            timer_ = Timer::RestartUser;
            timerAt_ = std::max(now_, toHostFree_);
        } else {
            state_ = SimState::ProgramErase;
        }
        return;
    }
    const uint32_t address = Be32(&f[1]);
    if (address % kBlockSize != 0 || static_cast<uint64_t>(address) + kBlockSize > flash_.size()) {
        Error(kProgram, kErrAddress);
        return;
    }
    auto target = flash_.begin() + address;
    if (!std::all_of(target, target + kBlockSize, [](uint8_t b) { return b == 0xFF; })) {
        Error(kProgram, kErrProgramming);
        return;
    }
    std::copy(f.begin() + 5, f.begin() + 5 + kBlockSize, target);
    PersistRange(address, kBlockSize);
    ++blocks_;
    if (opt_.programMicros > 0) {
        state_ = SimState::Writing;
        Arm(Timer::BlockDone, opt_.programMicros);
        return;
    }
    Emit({kAck}, kProgram);
}
