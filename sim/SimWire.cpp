#include "sim/SimWire.h"

#include "link/Driver.h"

#include <algorithm>

namespace {

int64_t ByteMicros(uint32_t rate) {
    // 10 bits: start, 8 data, stop.
    return static_cast<int64_t>((10ull * 1000000ull + rate - 1) / rate);
}

}  // namespace

uint8_t SimWire::Garble(uint8_t value, uint32_t senderRate, uint32_t receiverRate) {
    // A faster sender's bits are sampled late, a slower one's early: either
    // way some bits flip, never none.
    return static_cast<uint8_t>(value ^ (senderRate > receiverRate ? 0xF0 : 0x0F));
}

uint32_t SimWire::FtdiRate(uint32_t rate) {
    if (rate == 0) return 0;
    // The divider in eighths of the 3 MHz base, to the nearest.
    const uint64_t eighths = (24000000ull + rate / 2) / rate;
    if (eighths <= 10) return 3000000;  // nearer to divider 1 than to 1.5
    if (eighths < 16) return 2000000;   // 1.5; nothing else below 2
    const uint64_t capped = eighths > 16383ull * 8 + 7 ? 16383ull * 8 + 7 : eighths;
    return static_cast<uint32_t>((24000000ull + capped / 2) / capped);
}

bool SimWire::RatesAgree(uint32_t senderRate, uint32_t receiverRate) {
    const double ratio = static_cast<double>(senderRate) / receiverRate;
    return ratio <= 1.0 + kRateTolerance && ratio >= 1.0 - kRateTolerance;
}

bool SimWire::Readable(uint32_t senderRate, uint32_t receiverRate) const {
    if (maxRate_ > 0 && (senderRate > maxRate_ || receiverRate > maxRate_)) return false;
    return senderRate == receiverRate || RatesAgree(senderRate, receiverRate);
}

void SimWire::SetHostRate(uint32_t rate) {
    if (rate == 0) return;
    hostRate_ = rate;
    hostLineRate_ = FtdiRate(rate);
}

void SimWire::SetHostFraming(uint8_t bits, uint8_t stop, uint8_t parity) {
    hostFramingOk_ = bits == BITS_8 && stop == STOP_BITS_1 && parity == PARITY_NONE;
}

void SimWire::HostWrite(int64_t now, const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        WireByte w{bytes[i], hostLineRate_, hostFramingOk_, std::max(now, toChipFree_), 0};
        w.arrive = w.start + ByteMicros(hostLineRate_);
        toChipFree_ = w.arrive;
        toChip_.push_back(w);
    }
}

void SimWire::HostPurge(int64_t now, uint32_t mask) {
    if (mask & PURGE_RX) {
        hostRx_.clear();
        held_.clear();
    }
    if (mask & PURGE_TX) {
        while (!toChip_.empty() && toChip_.back().start > now) toChip_.pop_back();
        toChipFree_ = toChip_.empty() ? now : toChip_.back().arrive;
    }
}

bool SimWire::SetDtr(bool level) {
    if (level == dtr_) return false;
    dtr_ = level;
    return true;
}

bool SimWire::TakeDriverCall() {
    if (unplugged_) return false;
    ++driverCalls_;
    if (unplugAfter_ >= 0 && driverCalls_ > static_cast<uint64_t>(unplugAfter_)) {
        unplugged_ = true;
        return false;
    }
    return true;
}

void SimWire::SetUnplugAfter(int64_t calls) {
    unplugAfter_ = calls;
    driverCalls_ = 0;
}

void SimWire::ChipSend(int64_t now, uint8_t value, uint32_t rate) {
    WireByte w{value, rate, true, std::max(now, toHostFree_), 0};
    w.arrive = w.start + ByteMicros(rate);
    toHostFree_ = w.arrive;
    toHost_.push_back(w);
}

void SimWire::ChipStops(int64_t now) {
    toHost_.clear();
    toHostFree_ = now;
}

int64_t SimWire::ChipSendDone(int64_t now) const { return std::max(now, toHostFree_); }

void SimWire::DeliverToConverter(int64_t now) {
    const WireByte b = toHost_.front();
    toHost_.pop_front();
    const bool match = hostFramingOk_ && Readable(b.rate, hostLineRate_);
    if (held_.empty()) flushAt_ = now + latency_;
    held_.push_back(match ? b.value : Garble(b.value, b.rate, hostLineRate_));
    if (held_.size() >= kPacketBytes) flushAt_ = now;
}

void SimWire::Flush() {
    hostRx_.insert(hostRx_.end(), held_.begin(), held_.end());
    held_.clear();
}

uint8_t SimWire::TakeAtChip(uint32_t chipRate) {
    const WireByte b = toChip_.front();
    toChip_.pop_front();
    const bool match = b.framingOk && Readable(b.rate, chipRate);
    return match ? b.value : Garble(b.value, b.rate, chipRate);
}
