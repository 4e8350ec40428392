#include "sim/SimChip.h"

#include "protocol/Protocol.h"
#include "sim/SimFlash.h"
#include "sim/SimWire.h"
#include "sim/UserProgram.h"

#include <algorithm>
#include <cmath>

using namespace proto;

namespace {

// What the chip offers in its inquiry replies and accepts in its selections
// (its device code and clock mode are the ones in protocol/Protocol.h).
const uint8_t kRatios[] = {1, 2, 4};                   // for both clock types
constexpr uint32_t kMinInput = 800, kMaxInput = 1600;  // 0.01 MHz: 8.00 .. 16.00 MHz
constexpr uint32_t kMinClock = 800;                    // 8.00 MHz
constexpr uint32_t kMaxSystemClock = 5000;             // 50.00 MHz
constexpr uint32_t kMaxPeripheralClock = 3500;         // 35.00 MHz

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

std::vector<uint8_t> Be32Bytes(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

bool IsRatio(uint8_t r) { return std::find(std::begin(kRatios), std::end(kRatios), r) != std::end(kRatios); }

// The usual error code the chip gives a command that the error= fault hits.
uint8_t UsualErrorCode(int command) {
    switch (command) {
    case kDeviceSelect: return kErrDeviceCode;
    case kClockModeSelect: return kErrClockMode;
    case kNewBitRate: return kErrBitRate;
    case kEnterProgramming: return kErrErase;
    case kProgram:
    case kSimEndCommand: return kErrProgramming;
    case kMemoryRead: return kErrAddress;
    case kUserBlankCheck: return kErrNotErased;
    default: return kErrCommand;
    }
}

}  // namespace

SerialSetting ChooseSerialSetting(uint32_t peripheralUnits, uint32_t rate) {
    SerialSetting best;
    if (rate == 0) return best;
    const double clock = peripheralUnits * 10000.0;
    double bestError = 0;
    bool found = false;
    for (int n = 0; n <= 3; ++n) {
        // 64 x 2^(2n-1): 32, 128, 512, 2048 clocks per bit.
        const double perBit = 32.0 * static_cast<double>(1u << (2 * n));
        const double exact = clock / (perBit * rate);
        long divisor = std::lround(exact);
        if (divisor < 1) divisor = 1;
        if (divisor > 256) continue;
        const double error = clock / (static_cast<double>(divisor) * rate * perBit) - 1.0;
        if (!found || std::abs(error) < std::abs(bestError)) {
            found = true;
            bestError = error;
            best.n = n;
            best.N = static_cast<int>(divisor - 1);
        }
    }
    best.errorPercent = bestError * 100.0;
    best.accepted = found && std::abs(best.errorPercent) < kSerialErrorLimitPercent;
    return best;
}

uint32_t SerialRate(double peripheralHz, const SerialSetting& setting) {
    const double perBit = 32.0 * static_cast<double>(1u << (2 * setting.n));
    return static_cast<uint32_t>(std::lround(peripheralHz / (perBit * (setting.N + 1))));
}

std::vector<std::vector<uint8_t>> SimLog::FramesOf(uint8_t command) const {
    std::vector<std::vector<uint8_t>> out;
    for (const SimFrame& f : frames)
        if (!f.bytes.empty() && f.bytes[0] == command) out.push_back(f.bytes);
    return out;
}

SimChip::SimChip(const SimOptions& options, SimWire& wire, SimFlash& flash, SimLog& log)
    : opt_(options), wire_(wire), flash_(flash), log_(log) {
    if (opt_.noModemLines) {
        state_ = SimState::Adjusting;
        rate_ = lineRate_ = kAdjustRate;
    } else {
        state_ = flash_.IsBlank() ? SimState::UserBlank : SimState::UserProgram;
        rate_ = lineRate_ = kUserProgramRate;
    }
}

void SimChip::Arm(Timer kind, int64_t after) {
    timer_ = kind;
    timerAt_ = now_ + after;
}

void SimChip::TimerDue(int64_t now) {
    now_ = now;
    Timer kind = timer_;
    timer_ = Timer::None;
    switch (kind) {
    case Timer::StartupDone: StartupDone(); break;
    case Timer::EraseDone:
        flash_.Erase();
        ++log_.erases;
        state_ = SimState::ProgramErase;
        Emit({kAck}, kEnterProgramming);
        break;
    case Timer::BlockDone:
        state_ = SimState::Programming;
        Emit({kAck}, kProgram);
        break;
    case Timer::RestartUser: Restart(now, true); break;
    case Timer::Banner: SendBanner(); break;
    case Timer::None: break;
    }
}

void SimChip::FlashReplaced() {
    if (state_ == SimState::UserBlank || state_ == SimState::UserProgram)
        state_ = flash_.IsBlank() ? SimState::UserBlank : SimState::UserProgram;
}

void SimChip::Restart(int64_t now, bool userProgram) {
    now_ = now;
    // The chip's transmitter stops at once; its half-built frame is gone.
    wire_.ChipStops(now_);
    frame_.clear();
    zeros_ = 0;
    deviceSelected_ = clockSelected_ = false;
    blockFrames_ = 0;
    if (userProgram)
        ++log_.userRestarts;
    else
        ++log_.bootRestarts;
    restartIntoUser_ = userProgram;
    state_ = SimState::Starting;
    Arm(Timer::StartupDone, opt_.startupMicros);
}

void SimChip::StartupDone() {
    if (!restartIntoUser_) {
        state_ = SimState::Adjusting;
        rate_ = lineRate_ = kAdjustRate;
        return;
    }
    rate_ = lineRate_ = kUserProgramRate;
    if (flash_.IsBlank()) {
        state_ = SimState::UserBlank;
        return;
    }
    // The program echoes at once but initialises before it greets; a second
    // restart within that time (the reset pulse's other edge) starts it over,
    // so one reset pulse gives one banner.
    state_ = SimState::UserProgram;
    Arm(Timer::Banner, opt_.bannerDelayMicros);
}

void SimChip::SendBanner() {
    std::string banner = UserProgramBanner(SummarizeFlash(flash_.Bytes().data(), flash_.Size()));
    Emit(std::vector<uint8_t>(banner.begin(), banner.end()), -1);
}

void SimChip::Emit(const std::vector<uint8_t>& bytes, int command) {
    if (opt_.silent) return;
    const bool garble = command >= 0 && command == opt_.garbleCommand;
    for (uint8_t v : bytes) {
        const uint8_t value = garble ? SimWire::Garble(v, lineRate_ * 2, lineRate_) : v;
        log_.chipSent.push_back(value);
        wire_.ChipSend(now_, value, lineRate_);
    }
}

void SimChip::Reply(uint8_t code, const std::vector<uint8_t>& data, int command) {
    std::vector<uint8_t> f;
    f.push_back(code);
    f.push_back(static_cast<uint8_t>(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(FrameChecksum(f.data(), f.size()));
    Emit(f, command);
}

void SimChip::Error(int command, uint8_t code) {
    const uint8_t c = command == kSimEndCommand ? kProgram : static_cast<uint8_t>(command);
    Emit({static_cast<uint8_t>(c | kErrorFlag), code}, command);
}

void SimChip::Arrive(int64_t now, uint8_t value) {
    now_ = now;
    switch (state_) {
    case SimState::Starting:
    case SimState::Erasing:
    case SimState::Writing:
    case SimState::UserBlank: ++log_.lostBytes; return;
    default: break;
    }
    log_.chipReceived.push_back(value);
    Receive(value);
}

size_t SimChip::FrameLength(const std::vector<uint8_t>& f) const {
    switch (f[0]) {
    case kDeviceSelect:
    case kClockModeSelect:
    case kNewBitRate:
    case kMemoryRead: return f.size() < 2 ? 0 : 3u + f[1];
    case kProgram:
        if (f.size() < 5) return 0;
        return Be32(&f[1]) == 0xFFFFFFFFu ? 6 : kBlockCommandSize;
    default: return 1;
    }
}

void SimChip::Receive(uint8_t b) {
    switch (state_) {
    case SimState::Adjusting:
        log_.frames.push_back({state_, {b}, now_});
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
        log_.frames.push_back({state_, {b}, now_});
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
    case SimState::UserProgram: Emit({b}, -1); return;
    default: break;
    }
    frame_.push_back(b);
    size_t need = FrameLength(frame_);
    if (need == 0 || frame_.size() < need) return;
    std::vector<uint8_t> f;
    f.swap(frame_);
    Dispatch(f);
}

void SimChip::ArmSelfRestart() {
    // No reset line: the board starts the new program by itself once the
    // reply is out and the host has fallen quiet, so read-back commands
    // right after the end of programming are still answered.
    timer_ = Timer::RestartUser;
    timerAt_ = wire_.ChipSendDone(now_) + kSelfRestartQuietMicros;
}

void SimChip::Dispatch(const std::vector<uint8_t>& f) {
    const bool selfRestartPending = timer_ == Timer::RestartUser;
    Answer(f);
    if (selfRestartPending && timer_ == Timer::RestartUser) {
        if (state_ == SimState::ProgramErase)
            ArmSelfRestart();
        else
            timer_ = Timer::None;  // programming again: the next end restarts it
    }
}

void SimChip::Answer(const std::vector<uint8_t>& f) {
    log_.frames.push_back({state_, f, now_});
    const uint8_t c = f[0];
    const bool end = c == kProgram && f.size() == 6;
    const int command = end ? kSimEndCommand : c;
    const bool inquiryPhase = state_ == SimState::Inquiry || state_ == SimState::Selected;
    // The programming/erasing state, with or without the user area selected.
    const bool programPhase = state_ == SimState::ProgramErase || state_ == SimState::Programming;

    // The no-reply fault swallows one block whole.
    if (c == kProgram && !end && state_ == SimState::Programming && ++blockFrames_ == opt_.noReplyBlock) return;
    // The error fault answers its command with an error, whatever it holds.
    if (command == opt_.errorCommand) {
        Error(command, opt_.errorCode >= 0 ? static_cast<uint8_t>(opt_.errorCode) : UsualErrorCode(command));
        return;
    }
    // In the confirmation state only the new bit rate's 0x06 is taken.
    if (state_ == SimState::RateConfirm) {
        if (c != kBitRateConfirm) {
            Error(c, kErrCommand);
            return;
        }
        state_ = SimState::Selected;
        Emit({kAck}, kBitRateConfirm);
        return;
    }
    // Framed commands carry a checksum.
    if (f.size() > 1 && FrameChecksum(f.data(), f.size()) != 0) {
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
              {2, kMinClock >> 8, kMinClock & 0xFF, kMaxSystemClock >> 8, kMaxSystemClock & 0xFF, kMinClock >> 8,
               kMinClock & 0xFF, kMaxPeripheralClock >> 8, kMaxPeripheralClock & 0xFF},
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
        if (!programPhase) break;
        state_ = SimState::Programming;
        Emit({kAck}, c);
        return;
    case kProgram:
        if (state_ != SimState::Programming) break;
        DispatchProgram(f);
        return;
    case kMemoryRead:
        if (!programPhase) break;
        MemoryRead(f);
        return;
    case kUserSumCheck:
        if (!programPhase) break;
        {
            uint32_t total = 0;
            for (uint8_t b : flash_.Bytes()) total += b;
            Reply(kUserSumReply, Be32Bytes(total), c);
        }
        return;
    case kUserBlankCheck:
        if (!programPhase) break;
        if (flash_.IsBlank())
            Emit({kAck}, c);
        else
            Error(c, kErrNotErased);
        return;
    case kUserAreaInquiry:
        if (!programPhase) break;
        {
            // One user area: the whole flash.
            std::vector<uint8_t> d{1};
            for (uint32_t a : {0u, static_cast<uint32_t>(flash_.Size() - 1)}) {
                const std::vector<uint8_t> be = Be32Bytes(a);
                d.insert(d.end(), be.begin(), be.end());
            }
            Reply(kUserAreaReply, d, c);
        }
        return;
    default: break;
    }
    // Unknown, or not accepted in this state.
    Error(command, kErrCommand);
}

void SimChip::BitRateSelect(const std::vector<uint8_t>& f) {
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
    const SerialSetting setting = ChooseSerialSetting(peripheral, rate);
    if (!setting.accepted) {
        Error(c, kErrBitRate);
        return;
    }
    // Acknowledged at the old rate; everything after at the new one. The
    // divider was chosen for the clock the host named, but the port runs on
    // the board's real crystal.
    Emit({kAck}, c);
    rate_ = rate;
    lineRate_ = SerialRate(static_cast<double>(opt_.crystalUnits) * peripheralRatio * 10000.0, setting);
    state_ = SimState::RateConfirm;
}

void SimChip::DispatchProgram(const std::vector<uint8_t>& f) {
    const bool end = f.size() == 6;
    if (end) {
        Emit({kAck}, kSimEndCommand);
        state_ = SimState::ProgramErase;
        if (opt_.noModemLines) ArmSelfRestart();
        return;
    }
    const uint32_t address = Be32(&f[1]);
    if (address % kBlockSize != 0 || static_cast<uint64_t>(address) + kBlockSize > flash_.Size()) {
        Error(kProgram, kErrAddress);
        return;
    }
    if (!flash_.IsBlank(address, kBlockSize)) {
        Error(kProgram, kErrProgramming);
        return;
    }
    flash_.Program(address, f.data() + 5, kBlockSize);
    if (opt_.corruptAddress >= 0 && static_cast<uint64_t>(opt_.corruptAddress) / kBlockSize == address / kBlockSize) {
        // A weak cell: the block is acknowledged, but one byte did not take
        // the programmed value.
        const size_t at = static_cast<size_t>(opt_.corruptAddress);
        const uint8_t programmed = f[5 + at % kBlockSize];
        uint8_t kept = static_cast<uint8_t>(programmed | 0x01);
        if (kept == programmed) kept = static_cast<uint8_t>(programmed ^ 0x01);
        if (opt_.corruptValue >= 0) kept = static_cast<uint8_t>(opt_.corruptValue);
        flash_.Program(at, &kept, 1);
    }
    ++log_.blocksProgrammed;
    if (opt_.programMicros > 0) {
        state_ = SimState::Writing;
        Arm(Timer::BlockDone, opt_.programMicros);
        return;
    }
    Emit({kAck}, kProgram);
}

void SimChip::MemoryRead(const std::vector<uint8_t>& f) {
    const uint8_t c = kMemoryRead;
    // Area (1 byte), start address and read size (4 bytes each).
    if (f[1] != 9) {
        Error(c, kErrChecksum);
        return;
    }
    const uint8_t area = f[2];
    const uint64_t start = Be32(&f[3]), size = Be32(&f[7]);
    // The board has no user boot area: no address lies in it.
    if (area != kAreaUser || start >= flash_.Size()) {
        Error(c, kErrAddress);
        return;
    }
    if (size == 0 || start + size > flash_.Size()) {
        Error(c, kErrReadSize);
        return;
    }
    std::vector<uint8_t> r;
    r.reserve(size + 6);
    r.push_back(kMemoryReadReply);
    const std::vector<uint8_t> be = Be32Bytes(static_cast<uint32_t>(size));
    r.insert(r.end(), be.begin(), be.end());
    const auto first = flash_.Bytes().begin() + static_cast<std::ptrdiff_t>(start);
    r.insert(r.end(), first, first + static_cast<std::ptrdiff_t>(size));
    r.push_back(FrameChecksum(r.data(), r.size()));
    Emit(r, c);
}
