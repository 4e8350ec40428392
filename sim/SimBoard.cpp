#include "sim/SimBoard.h"

namespace {

// What can happen next on the board. On a tie they run in this order: what
// reaches the converter first (a restart must not swallow a byte already
// delivered), the converter passing bytes on to the host, then the chip's
// timer, then what reaches the chip.
enum class SimEvent { ToConverter, ConverterFlush, ChipTimer, ToChip };

}  // namespace

SimBoard::SimBoard(const SimOptions& options)
    : opt_(options),
      wire_(opt_.latencyMicros, opt_.maxRate),
      flash_(opt_.flashPath, opt_.flashSize),
      chip_(opt_, wire_, flash_, log_) {
    wire_.SetUnplugAfter(opt_.unplugAfter);
}

int64_t SimBoard::NextDue() const { return NextEvent(false); }
int64_t SimBoard::NextWake() const { return NextEvent(true); }

int64_t SimBoard::NextEvent(bool frameEnd) const {
    int64_t due = chip_.TimerAt();
    auto take = [&](int64_t t) {
        if (t >= 0 && (due < 0 || t < due)) due = t;
    };
    take(wire_.NextToHost());
    take(wire_.NextFlush());
    take(frameEnd ? wire_.LastToChip() : wire_.NextToChip());
    return due;
}

void SimBoard::Advance(int64_t t) {
    for (;;) {
        // The earliest event at or before t.
        bool found = false;
        SimEvent next = SimEvent::ToConverter;
        int64_t due = 0;
        auto consider = [&](SimEvent kind, int64_t at) {
            if (at >= 0 && at <= t && (!found || at < due)) {
                found = true;
                next = kind;
                due = at;
            }
        };
        consider(SimEvent::ToConverter, wire_.NextToHost());
        consider(SimEvent::ConverterFlush, wire_.NextFlush());
        consider(SimEvent::ChipTimer, chip_.TimerAt());
        consider(SimEvent::ToChip, wire_.NextToChip());
        if (!found) break;
        if (due > now_) now_ = due;
        switch (next) {
        case SimEvent::ToConverter: wire_.DeliverToConverter(now_); break;
        case SimEvent::ConverterFlush: wire_.Flush(); break;
        case SimEvent::ChipTimer: chip_.TimerDue(now_); break;
        case SimEvent::ToChip: chip_.Arrive(now_, wire_.TakeAtChip(chip_.LineRate())); break;
        }
    }
    if (t > now_) now_ = t;
}

void SimBoard::SetDtr(bool level) {
    if (wire_.SetDtr(level) && !opt_.noModemLines) chip_.Restart(now_, wire_.Rts());
}

void SimBoard::LoadFlash(const std::vector<uint8_t>& bytes) {
    flash_.Load(bytes);
    chip_.FlashReplaced();
}

SimInspection SimBoard::Inspect() const {
    return SimInspection{chip_.State(),
                         wire_.HostRate(),
                         wire_.HostLineRate(),
                         chip_.Rate(),
                         chip_.LineRate(),
                         wire_.Dtr(),
                         wire_.Rts(),
                         chip_.DeviceSelected(),
                         chip_.ClockModeSelected(),
                         wire_.Unplugged(),
                         wire_.DriverCalls(),
                         flash_.Bytes(),
                         flash_.FileError(),
                         log_};
}
