// The serial line of the simulated board with the converter's host side: the
// host's bit rate and framing, its receive queue, DTR and RTS, the count of
// driver calls (for the unplug fault), and the bytes on their way in either
// direction.
//
// Every byte takes 10 bit times at the rate it was sent with and queues
// behind the one before it in its direction. A byte that arrives while the
// sender's and the receiver's settings differ (bit rate, or framing other
// than 8N1 on the host side) arrives as a deterministic wrong value.
#pragma once

#include <cstdint>
#include <deque>

class SimWire {
public:
    static constexpr uint32_t kConverterDefaultRate = 9600;

    // The value a byte takes on a line whose ends disagree.
    static uint8_t Garble(uint8_t value, uint32_t senderRate, uint32_t receiverRate);

    // --- the host side ---
    void SetHostRate(uint32_t rate);  // 0 is ignored
    uint32_t HostRate() const { return hostRate_; }
    void SetHostFraming(uint8_t bits, uint8_t stop, uint8_t parity);
    void HostWrite(int64_t now, const uint8_t* bytes, uint32_t count);
    std::deque<uint8_t>& HostReceiveQueue() { return hostRx_; }
    // PURGE_RX empties the receive queue; PURGE_TX drops the bytes not yet
    // begun on the wire.
    void HostPurge(int64_t now, uint32_t mask);
    uint32_t HostPendingTx() const { return static_cast<uint32_t>(toChip_.size()); }

    // The modem lines. SetDtr tells whether the level changed.
    bool SetDtr(bool level);
    void SetRts(bool level) { rts_ = level; }
    bool Dtr() const { return dtr_; }
    bool Rts() const { return rts_; }

    // Driver calls: true while the converter is plugged in. Counts the call;
    // once the limit of SetUnplugAfter is passed it stays unplugged.
    bool TakeDriverCall();
    // Every driver call after `calls` more fails; -1: never.
    void SetUnplugAfter(int64_t calls);
    bool Unplugged() const { return unplugged_; }
    uint64_t DriverCalls() const { return driverCalls_; }

    // --- the chip side ---
    // Puts a byte on the way to the host, sent at `rate`.
    void ChipSend(int64_t now, uint8_t value, uint32_t rate);
    // The chip's transmitter stops: what it has not sent yet is gone.
    void ChipStops(int64_t now);
    // When the transmitter is done with everything it was given.
    int64_t ChipSendDone(int64_t now) const;

    // --- arrivals ---
    // The arrival of the next byte to the host, of the next byte to the chip
    // (or of the last byte queued to it); -1: none on its way.
    int64_t NextToHost() const { return toHost_.empty() ? -1 : toHost_.front().arrive; }
    int64_t NextToChip() const { return toChip_.empty() ? -1 : toChip_.front().arrive; }
    int64_t LastToChip() const { return toChip_.empty() ? -1 : toChip_.back().arrive; }
    // Delivers the next byte to the host's receive queue.
    void DeliverToHost();
    // Takes the next byte arriving at a chip listening at `chipRate`.
    uint8_t TakeAtChip(uint32_t chipRate);

private:
    struct WireByte {
        uint8_t value;
        uint32_t rate;
        bool framingOk;
        int64_t start;
        int64_t arrive;
    };

    uint32_t hostRate_ = kConverterDefaultRate;
    bool hostFramingOk_ = true;
    std::deque<uint8_t> hostRx_;
    bool dtr_ = false, rts_ = false;
    uint64_t driverCalls_ = 0;
    int64_t unplugAfter_ = -1;
    bool unplugged_ = false;

    std::deque<WireByte> toChip_, toHost_;
    int64_t toChipFree_ = 0, toHostFree_ = 0;
};
