// The serial line of the simulated board with the converter's host side: the
// host's bit rate and framing, its receive queue, DTR and RTS, the count of
// driver calls (for the unplug fault), and the bytes on their way in either
// direction.
//
// Every byte takes 10 bit times at the rate it was sent with and queues
// behind the one before it in its direction. A byte arrives as a
// deterministic wrong value when the sender's and the receiver's rates differ
// by more than kRateTolerance, when the host's framing is other than 8N1, or
// when either rate is above the line's limit (max-rate=).
//
// The converter is an FTDI one: the host's rate becomes the nearest rate its
// 3 MHz divider gives (FtdiRate), and received bytes wait in its buffer until
// the latency timer runs out (started by the first byte into the empty
// buffer) or a full USB packet of 62 bytes is waiting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

class SimWire {
public:
    static constexpr uint32_t kConverterDefaultRate = 9600;
    // The mismatch of the two ends' rates that 8N1 still survives: the last
    // bit sampled (the stop bit) lies 9.5 bit times after the start edge.
    static constexpr double kRateTolerance = 0.035;
    static constexpr size_t kPacketBytes = 62;

    // The rate an FTDI converter (FT232R, FT232BM, FT2232C/D) makes of `rate`:
    // 3,000,000 / (d + f/8) with d >= 2, or 3,000,000 or 2,000,000.
    static uint32_t FtdiRate(uint32_t rate);
    // Whether a byte sent at `senderRate` is read right at `receiverRate`.
    static bool RatesAgree(uint32_t senderRate, uint32_t receiverRate);

    // `latencyMicros`: the converter's latency timer; `maxRate`: the fastest
    // rate the line carries, 0 for no limit.
    SimWire(int64_t latencyMicros, uint32_t maxRate) : latency_(latencyMicros), maxRate_(maxRate) {}

    // The value a byte takes on a line whose ends disagree.
    static uint8_t Garble(uint8_t value, uint32_t senderRate, uint32_t receiverRate);

    // --- the host side ---
    void SetHostRate(uint32_t rate);                         // 0 is ignored
    uint32_t HostRate() const { return hostRate_; }          // as the host set it
    uint32_t HostLineRate() const { return hostLineRate_; }  // as the converter makes it
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
    // When the converter next passes what it holds to the host; -1: it holds
    // nothing.
    int64_t NextFlush() const { return held_.empty() ? -1 : flushAt_; }
    // The next byte to the host reaches the converter at `now`.
    void DeliverToConverter(int64_t now);
    // The converter passes what it holds to the host's receive queue.
    void Flush();
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

    bool Readable(uint32_t senderRate, uint32_t receiverRate) const;

    int64_t latency_;
    uint32_t maxRate_;
    uint32_t hostRate_ = kConverterDefaultRate;
    uint32_t hostLineRate_ = kConverterDefaultRate;
    bool hostFramingOk_ = true;
    std::deque<uint8_t> hostRx_;
    std::deque<uint8_t> held_;  // in the converter, not yet passed to the host
    int64_t flushAt_ = 0;
    bool dtr_ = false, rts_ = false;
    uint64_t driverCalls_ = 0;
    int64_t unplugAfter_ = -1;
    bool unplugged_ = false;

    std::deque<WireByte> toChip_, toHost_;
    int64_t toChipFree_ = 0, toHostFree_ = 0;
};
