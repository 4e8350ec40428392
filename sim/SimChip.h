// The simulated H8SX/1622: its boot program with the fault injection of the
// options, and the user program that runs from a programmed flash.
//
// - Restart: the chip is deaf for the start-up time, then runs the boot
//   program (bit-rate adjustment at 19200 bit/s) or the user program.
// - Boot program: a state machine (SimState) that checks every frame it gets
//   and answers with 0x06, an inquiry reply, or an error reply
//   (command | 0x80, code).
// - User program: with a programmed flash it sends the banner of
//   sim/UserProgram.h at 38400 bit/s and then echoes every byte; with a blank
//   flash it does nothing.
//
// The chip sends through the wire and keeps one timer (start-up, erasing,
// programming a block, banner, restart); the board calls TimerDue when
// TimerAt() has come.
#pragma once

#include "sim/SimOptions.h"

#include <cstdint>
#include <vector>

class SimFlash;
class SimWire;

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

// One complete frame as the chip took it in (after the wire), with the state
// it was received in. The adjustment bytes 0x00 and 0x55 count as frames.
struct SimFrame {
    SimState state;
    std::vector<uint8_t> bytes;
    int64_t at;  // microsecond of its last byte
};

// What the chip has done, kept for tests.
struct SimLog {
    std::vector<SimFrame> frames;
    std::vector<uint8_t> chipReceived;  // every byte the chip took in
    std::vector<uint8_t> chipSent;      // every byte it sent
    uint64_t lostBytes = 0;             // arrived while the chip was not listening
    int erases = 0;
    int blocksProgrammed = 0;
    int bootRestarts = 0, userRestarts = 0;

    int Restarts() const { return bootRestarts + userRestarts; }
    // The frames whose first byte is `command` (0x50 frames include the end
    // command).
    std::vector<std::vector<uint8_t>> FramesOf(uint8_t command) const;
};

// The chip's serial port for a new bit rate: clock select n (0 to 3) and
// divider N (0 to 255), the rate being clock / (64 x 2^(2n-1) x (N + 1)). The
// chip takes the setting nearest to the rate asked for and accepts it when
// that error is below 4 %.
constexpr double kSerialErrorLimitPercent = 4.0;
struct SerialSetting {
    bool accepted = false;
    int n = 0;
    int N = 0;
    double errorPercent = 0;  // of the rate the setting gives against the one asked for
};
// `peripheralUnits` is the peripheral clock in 0.01 MHz, `rate` in bit/s.
SerialSetting ChooseSerialSetting(uint32_t peripheralUnits, uint32_t rate);
// The rate a setting gives on a peripheral clock of `peripheralHz`.
uint32_t SerialRate(double peripheralHz, const SerialSetting& setting);

class SimChip {
public:
    static constexpr uint32_t kAdjustRate = 19200;       // boot program's adjustment
    static constexpr uint32_t kUserProgramRate = 38400;  // user program's banner and echo
    // Without modem lines: how long the host stays quiet after the end of
    // programming (or a read-back after it) before the board starts the new
    // program by itself.
    static constexpr int64_t kSelfRestartQuietMicros = 200000;

    // Starts powered up long ago: in the user program (its banner long gone),
    // or in boot mode when the options say the board has no modem lines.
    SimChip(const SimOptions& options, SimWire& wire, SimFlash& flash, SimLog& log);

    void Restart(int64_t now, bool userProgram);
    // A byte reaches the chip, as the wire made it.
    void Arrive(int64_t now, uint8_t value);
    int64_t TimerAt() const { return timer_ != Timer::None ? timerAt_ : -1; }
    void TimerDue(int64_t now);
    // The flash was replaced under a running chip: a user program is as if it
    // had started from it long ago.
    void FlashReplaced();

    SimState State() const { return state_; }
    uint32_t Rate() const { return rate_; }          // the bit rate agreed with the host
    uint32_t LineRate() const { return lineRate_; }  // the rate the serial port really runs at
    bool DeviceSelected() const { return deviceSelected_; }
    bool ClockModeSelected() const { return clockSelected_; }

private:
    enum class Timer { None, StartupDone, EraseDone, BlockDone, RestartUser, Banner };

    void StartupDone();
    void SendBanner();
    void Receive(uint8_t b);
    void Dispatch(const std::vector<uint8_t>& frame);
    void Answer(const std::vector<uint8_t>& frame);
    void ArmSelfRestart();
    void DispatchProgram(const std::vector<uint8_t>& frame);
    void BitRateSelect(const std::vector<uint8_t>& frame);
    void MemoryRead(const std::vector<uint8_t>& frame);
    size_t FrameLength(const std::vector<uint8_t>& frame) const;
    void Emit(const std::vector<uint8_t>& bytes, int command);
    void Reply(uint8_t code, const std::vector<uint8_t>& data, int command);
    void Error(int command, uint8_t code);
    void Arm(Timer kind, int64_t after);

    const SimOptions& opt_;
    SimWire& wire_;
    SimFlash& flash_;
    SimLog& log_;
    int64_t now_ = 0;  // of the event being handled

    SimState state_ = SimState::UserBlank;
    uint32_t rate_ = kUserProgramRate;
    uint32_t lineRate_ = kUserProgramRate;
    Timer timer_ = Timer::None;
    int64_t timerAt_ = -1;
    bool restartIntoUser_ = false;
    int zeros_ = 0;
    bool deviceSelected_ = false, clockSelected_ = false;
    std::vector<uint8_t> frame_;
    uint32_t blockFrames_ = 0;
};
