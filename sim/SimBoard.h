// The simulated H8SX/1622 target board: a discrete-event model of the whole
// path behind the driver layer.
//
// - Converter (the host side): the host's bit rate and framing, its receive
//   queue, the bytes on their way to the chip, DTR and RTS.
// - Wire: every byte takes 10 bit times at the rate it was sent with. A byte
//   that arrives while the sender's and the receiver's settings differ
//   (bit rate, or framing other than 8N1 on the host side) arrives as a
//   deterministic wrong value.
// - Board wiring: every change of DTR restarts the chip; the level of RTS at
//   that moment chooses boot mode (cleared) or the user program (set). The
//   restarted chip listens after the start-up time; bytes before are lost.
// - Boot program: a state machine (SimState) that checks every frame it gets
//   and answers with 0x06, an inquiry reply, or an error reply
//   (command | 0x80, code). Bit-rate adjustment at 19200 bit/s only.
// - Flash: flashSize bytes, erased by 0x40, programmed by 0x50 blocks, kept
//   in a file when flashPath is set (loaded at construction, written through).
// - User program: with a programmed flash it sends the banner of
//   sim/UserProgram.h at 38400 bit/s and then echoes every byte; with a blank
//   flash it does nothing.
//
// Time: the model never looks at a clock by itself. Advance(t) runs every
// event up to microsecond t; NextDue() tells when the next one falls due.
// The device (sim/SimProvider.h) and the pty server advance it before every
// operation. The board starts powered up long ago: in the user program (its
// banner long gone), or in boot mode when noModemLines is set.
#pragma once

#include "sim/SimOptions.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

enum class SimState {
    Starting,       // restarted; listens once the start-up time has passed
    Adjusting,      // boot mode: measuring 0x00 bytes at 19200 bit/s
    AdjustConfirm,  // answered 0x00; waits for 0x55
    Inquiry,        // 0xE6 sent: inquiries and device, clock-mode, bit-rate selections
    RateConfirm,    // new bit rate acknowledged; waits for 0x06 at that rate
    Selected,       // new bit rate confirmed; inquiries still allowed, waits for 0x40
    Erasing,        // erasing the flash; bytes that arrive are lost
    ProgramErase,   // programming/erasing state: waits for the user-MAT selection 0x43
    Programming,    // user MAT selected: takes 0x50 blocks and the end command
    Writing,        // programming a block; bytes that arrive are lost
    UserProgram,    // running the programmed flash: banner, then echo
    UserBlank,      // user program mode with a blank flash: does nothing
};
const char* SimStateName(SimState state);

// One complete frame as the chip took it in (after the wire), with the state
// it was received in. The adjustment bytes 0x00 and 0x55 count as frames.
struct SimFrame {
    SimState state;
    std::vector<uint8_t> bytes;
    int64_t at;  // microsecond of its last byte
};

class SimBoard {
public:
    static constexpr uint32_t kAdjustRate = 19200;      // boot program's adjustment
    static constexpr uint32_t kUserProgramRate = 38400; // user program's banner and echo
    static constexpr uint32_t kConverterDefaultRate = 9600;

    explicit SimBoard(const SimOptions& options);
    ~SimBoard();
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
    void SetHostRate(uint32_t rate);
    void SetHostFraming(uint8_t bits, uint8_t stop, uint8_t parity);
    void HostWrite(const uint8_t* bytes, uint32_t count);
    std::deque<uint8_t>& HostReceiveQueue() { return hostRx_; }
    // PURGE_RX empties the receive queue; PURGE_TX drops the bytes not yet
    // begun on the wire.
    void HostPurge(uint32_t mask);
    uint32_t HostPendingTx() const { return static_cast<uint32_t>(toChip_.size()); }
    void SetDtr(bool level);
    void SetRts(bool level);

    // Driver calls: true while the converter is plugged in. Counts the call;
    // once the limit of SetUnplugAfter is passed it stays unplugged.
    bool TakeDriverCall();
    // Every driver call after `calls` more fails; -1: never.
    void SetUnplugAfter(int64_t calls);
    bool Unplugged() const { return unplugged_; }
    uint64_t DriverCalls() const { return driverCalls_; }

    // --- what tests look at ---
    SimState State() const { return state_; }
    uint32_t HostRate() const { return hostRate_; }
    uint32_t ChipRate() const { return chipRate_; }
    bool Dtr() const { return dtr_; }
    bool Rts() const { return rts_; }
    int Restarts() const { return bootRestarts_ + userRestarts_; }
    int BootRestarts() const { return bootRestarts_; }
    int UserRestarts() const { return userRestarts_; }
    const std::vector<uint8_t>& Flash() const { return flash_; }
    // Replaces the flash contents (padded with 0xFF, cut at the flash size)
    // and writes them through to the flash file. A running user program then
    // echoes (or stays quiet for a blank flash) without a new banner.
    void LoadFlash(const std::vector<uint8_t>& bytes);
    const std::vector<SimFrame>& Frames() const { return frames_; }
    // The frames whose first byte is `command` (0x50 frames include the end
    // command).
    std::vector<std::vector<uint8_t>> FramesOf(uint8_t command) const;
    const std::vector<uint8_t>& ChipReceived() const { return chipRx_; }  // every byte the chip took in
    const std::vector<uint8_t>& ChipSent() const { return chipTx_; }      // every byte it sent
    uint64_t LostBytes() const { return lost_; }     // arrived while the chip was not listening
    int Erases() const { return erases_; }
    int BlocksProgrammed() const { return blocks_; }
    bool DeviceSelected() const { return deviceSelected_; }
    bool ClockModeSelected() const { return clockSelected_; }
    // Empty when the flash file works; otherwise why it does not (the board
    // then keeps its flash in memory).
    const std::string& FlashFileError() const { return flashError_; }
    const SimOptions& Options() const { return opt_; }

    // The value a byte takes on a line whose ends disagree.
    static uint8_t Garble(uint8_t value, uint32_t senderRate, uint32_t receiverRate);

private:
    struct WireByte {
        uint8_t value;
        uint32_t rate;
        bool framingOk;
        int64_t start;
        int64_t arrive;
    };
    enum class Timer { None, StartupDone, EraseDone, BlockDone, RestartUser, Banner };

    void Restart(bool userProgram);
    void StartupDone();
    void SendBanner();
    int64_t NextEvent(bool frameEnd) const;
    void ArriveAtChip(const WireByte& b);
    void ArriveAtHost(const WireByte& b);
    void Receive(uint8_t b);
    void Dispatch(const std::vector<uint8_t>& frame);
    void DispatchProgram(const std::vector<uint8_t>& frame);
    void BitRateSelect(const std::vector<uint8_t>& frame);
    size_t FrameLength(const std::vector<uint8_t>& frame) const;
    void Emit(const std::vector<uint8_t>& bytes, int command);
    void Reply(uint8_t code, const std::vector<uint8_t>& data, int command);
    void Error(int command, uint8_t code);
    void Arm(Timer kind, int64_t after);
    void PersistAll();
    void PersistRange(size_t offset, size_t length);

    SimOptions opt_;
    int64_t now_ = 0;

    // Host side.
    uint32_t hostRate_ = kConverterDefaultRate;
    bool hostFramingOk_ = true;
    std::deque<uint8_t> hostRx_;
    bool dtr_ = false, rts_ = false;
    uint64_t driverCalls_ = 0;
    int64_t unplugAfter_ = -1;
    bool unplugged_ = false;

    // Wire, both ways.
    std::deque<WireByte> toChip_, toHost_;
    int64_t toChipFree_ = 0, toHostFree_ = 0;

    // Chip.
    SimState state_ = SimState::UserBlank;
    uint32_t chipRate_ = kUserProgramRate;
    Timer timer_ = Timer::None;
    int64_t timerAt_ = -1;
    bool restartIntoUser_ = false;
    int zeros_ = 0;
    bool deviceSelected_ = false, clockSelected_ = false;
    std::vector<uint8_t> frame_;
    uint32_t blockFrames_ = 0;

    // Flash.
    std::vector<uint8_t> flash_;
    int flashFd_ = -1;
    std::string flashError_;

    // Records.
    std::vector<SimFrame> frames_;
    std::vector<uint8_t> chipRx_, chipTx_;
    uint64_t lost_ = 0;
    int erases_ = 0, blocks_ = 0;
    int bootRestarts_ = 0, userRestarts_ = 0;
};
