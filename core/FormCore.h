// The state that every part of the writer shares, and the small interface
// through which the layers above reach whatever front end hosts them (the Qt
// window, the command line, a test with virtual time). Nothing here knows a
// subsystem: the tick that drives them is composed in session/Session.h.
//
// Contract
// - One FormCore exists per program (TForm1 in the GUI, the command line's
//   console form otherwise); core operations take it as `form`.
// - All fields start at zero.
// - The host runs the tick (session/Session.h) every 100 ms. It never runs
//   the message pump and never blocks.
// - ProcessMessages is one pass of the message pump: it handles what is
//   pending and returns. A host on real time waits inside it for the next
//   event (a tick, bytes from the converter, user input) instead of spinning;
//   a host on virtual time advances its clock to the next event. The tick
//   always runs, so the pump always returns within one tick period.
// - TargetOperations counts the writes and restarts of the target that are
//   running (a TargetOperation scope each). The waits of both run the message
//   pump, so user input can arrive inside them; the write command refuses to
//   start while one is running.
// - StopRequested is set by the host when the user asks a running write to
//   stop (a signal on the command line, closing the window); only the host
//   clears it. The write then stops at its next safe point: a reply wait of
//   the boot-mode exchange ends at once, no further frame is sent once the
//   frame in flight is answered, and the target is not restarted into a
//   partly written flash (bootmode/WriteCommand.h).
#pragma once

#include <cstdint>
#include <string>

class FormCore {
public:
    virtual ~FormCore() = default;

    // Shared fields.
    int32_t WaitTicks = 0;       // countdown in 100 ms ticks
    uint8_t LinkBusy = 0;        // set while the start-up connection or a write uses the link
    uint8_t MonitorRateSet = 0;  // set once the monitor rate was given or a write started
    uint32_t LinkRate = 0;       // the bit rate the link was last set to (SetLinkRate); 0 before the first
    uint8_t Settings[3] = {0, 0, 0};
    char SerialNumber[64] = {};
    int TargetOperations = 0;   // writes and restarts of the target running now
    uint8_t StopRequested = 0;  // the user asked the running write to stop

    // True while a write or a restart of the target is running.
    bool TargetOperationRunning() const { return TargetOperations > 0; }

    // The countdown step of the tick: WaitTicks down by one until it is 0.
    void CountDownTick() {
        if (WaitTicks != 0) --WaitTicks;
    }

    // Loads n ticks into WaitTicks and runs the message pump until the
    // countdown reaches 0.
    void WaitForTicks(int32_t n);

    // The Sound beep: the system beep, only while "Sound" is ticked.
    void SoundBeep();

    // --- the host interface ---
    // Replaces the status line's text.
    virtual void ShowStatus(const std::string& text) = 0;
    // The "Sound" option.
    virtual bool SoundTicked() = 0;
    // The system's default message beep, unconditionally.
    virtual void SystemBeep() = 0;
    // One pass of the message pump (see the contract above).
    virtual void ProcessMessages() = 0;
    // The serial-number field.
    virtual void ShowSerialNumber(const std::string& text) = 0;
    // The progress bar.
    virtual void SetProgressMaximum(int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual int ProgressPosition() = 0;
    // The file choice of a write: true with the chosen path, false when the
    // user cancelled.
    virtual bool ChooseImageFile(std::string& path) = 0;
    // One new line at the end of the monitor's display; `bytes` holds the
    // received bytes as they came (one character per byte).
    virtual void AppendMonitorLine(const std::string& bytes) = 0;
};

// Marks a write or a restart of the target as running for its lifetime.
class TargetOperation {
public:
    explicit TargetOperation(FormCore& form) : form_(form) { ++form_.TargetOperations; }
    ~TargetOperation() { --form_.TargetOperations; }
    TargetOperation(const TargetOperation&) = delete;
    TargetOperation& operator=(const TargetOperation&) = delete;

private:
    FormCore& form_;
};
