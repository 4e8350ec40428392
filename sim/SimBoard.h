// The simulated H8SX/1622 target board: a discrete-event model of the whole
// path behind the driver layer, made of three parts:
//
// - the wire with the converter's host side and the modem lines
//   (sim/SimWire.h),
// - the chip: boot program with its fault injection, and user program
//   (sim/SimChip.h),
// - the flash store (sim/SimFlash.h).
//
// The board joins them: every change of DTR restarts the chip, and the level
// of RTS at that moment chooses boot mode (cleared) or the user program (set);
// it runs their events in time order.
//
// Time: the model never looks at a clock by itself. Advance(t) runs every
// event up to microsecond t; NextDue() tells when the next one falls due.
// The device (sim/SimProvider.h) and the pty server advance it before every
// operation. The board starts powered up long ago: in the user program (its
// banner long gone), or in boot mode when noModemLines is set.
#pragma once

#include "sim/SimChip.h"
#include "sim/SimFlash.h"
#include "sim/SimOptions.h"
#include "sim/SimWire.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// What tests look at: the board's state at the moment of Inspect(), and what
// it has done so far. The references stay valid while the board lives.
struct SimInspection {
    SimState state;
    uint32_t hostRate;      // as the host set it
    uint32_t hostLineRate;  // as the converter makes it
    uint32_t chipRate;      // the rate the chip agreed to (19200 while adjusting)
    uint32_t chipLineRate;  // the rate its serial port really runs at
    bool dtr, rts;
    bool deviceSelected, clockModeSelected;
    bool unplugged;
    uint64_t driverCalls;
    const std::vector<uint8_t>& flash;
    // Empty when the flash file works; otherwise why it does not (the board
    // then keeps its flash in memory).
    const std::string& flashFileError;
    const SimLog& log;
};

class SimBoard {
public:
    explicit SimBoard(const SimOptions& options);
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    // --- time ---
    void Advance(int64_t nowMicros);
    int64_t NextDue() const;  // -1: nothing pending
    // When a host on real time should next look: like NextDue, but bytes on
    // their way to the chip count only when the last of them arrives (the
    // chip answers a whole frame, not its bytes), so a 134-byte command costs
    // one wake-up instead of 134. Every event is still processed at its own
    // moment by Advance; only the host's look comes at the frame's end.
    int64_t NextWake() const;
    int64_t Now() const { return now_; }

    // --- the converter's host side ---
    void SetHostRate(uint32_t rate) { wire_.SetHostRate(rate); }
    void SetHostFraming(uint8_t bits, uint8_t stop, uint8_t parity) { wire_.SetHostFraming(bits, stop, parity); }
    void HostWrite(const uint8_t* bytes, uint32_t count) { wire_.HostWrite(now_, bytes, count); }
    std::deque<uint8_t>& HostReceiveQueue() { return wire_.HostReceiveQueue(); }
    // PURGE_RX empties the receive queue; PURGE_TX drops the bytes not yet
    // begun on the wire.
    void HostPurge(uint32_t mask) { wire_.HostPurge(now_, mask); }
    uint32_t HostPendingTx() const { return wire_.HostPendingTx(); }
    void SetDtr(bool level);
    void SetRts(bool level) { wire_.SetRts(level); }

    // Driver calls: true while the converter is plugged in. Counts the call;
    // once the limit of SetUnplugAfter is passed it stays unplugged.
    bool TakeDriverCall() { return wire_.TakeDriverCall(); }
    // Every driver call after `calls` more fails; -1: never.
    void SetUnplugAfter(int64_t calls) { wire_.SetUnplugAfter(calls); }
    bool Unplugged() const { return wire_.Unplugged(); }

    // Replaces the flash contents (padded with 0xFF, cut at the flash size)
    // and writes them through to the flash file. A running user program then
    // echoes (or stays quiet for a blank flash) without a new banner.
    void LoadFlash(const std::vector<uint8_t>& bytes);

    SimInspection Inspect() const;

private:
    int64_t NextEvent(bool frameEnd) const;

    SimOptions opt_;
    int64_t now_ = 0;
    SimLog log_;
    SimWire wire_;
    SimFlash flash_;
    SimChip chip_;
};
