// The toolkit-free heart of the main window: the fields that every part of the
// writer shares, the 100 ms tick, and the small interface through which the
// core reaches whatever front end hosts it (the Qt window, the command line,
// a test with virtual time).
//
// Contract
// - One FormCore exists per program (TForm1 in the GUI, the command line's
//   console form otherwise); core operations take it as `form`.
// - All fields start at zero.
// - Timer1Timer is called by the host every 100 ms: first the monitor's
//   receive pump, then the WaitTicks countdown. It never runs the message
//   pump and never blocks.
// - ProcessMessages is one pass of the message pump: it handles what is
//   pending and returns. A host on real time waits inside it for the next
//   event (a tick, bytes from the converter, user input) instead of spinning;
//   a host on virtual time advances its clock to the next event. The tick
//   always runs, so the pump always returns within one tick period.
#pragma once

#include <cstdint>
#include <string>

class FormCore {
public:
    virtual ~FormCore() = default;

    // Shared fields.
    int32_t WaitTicks = 0;        // countdown in 100 ms ticks
    uint8_t LinkBusy = 0;         // set while the start-up connection or a write uses the link
    uint8_t MonitorRateSet = 0;   // set once the monitor rate was given or a write started
    uint32_t LinkRate = 0;        // the bit rate the link was last set to; 0 before the first
    uint8_t Settings[3] = {0, 0, 0};
    char SerialNumber[64] = {};

    // The tick, as the host's 100 ms timer calls it.
    void Timer1Timer();

    // Loads n ticks into WaitTicks and runs the message pump until the
    // countdown reaches 0.
    void WaitForTicks(int32_t n);

    // The Sound beep: the system beep, only while "Sound" is ticked.
    void SoundBeep();

    // Sets the link's bit rate and records it in LinkRate. Every change of
    // the host's rate goes through here, so LinkRate always tells the rate
    // the link is at. The rate is recorded whatever the driver returns (a
    // failed call is not repeated by the next comparison); the status is
    // returned and LastStatus is left alone.
    uint32_t SetLinkRate(uint32_t rate);

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

    // The transfer phase of a write (file choice, reading, programming). The
    // default reads the file that ChooseImageFile names; the command line
    // replaces it with the image it checked beforehand.
    virtual void TransferImage();
};
