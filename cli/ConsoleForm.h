// The command line's host for the core: a FormCore without widgets.
//
// Contract
// - ShowStatus writes each message on a line of its own to the output stream
//   (standard output), letter for letter. With the status on one line
//   (SetStatusOnOneLine, for a terminal) each message instead replaces the
//   one before on a line that stays open ("\r", then erase to its end), as
//   the window's status line does; that line is ended before the bar first
//   shows, before monitor bytes, and by Finish(), so the last message (the
//   failure or the result) stays on screen. The per-block texts of the
//   programming ("rssponse OK" and eleven spaces) are written only when
//   verbose; when quiet nothing is written until Finish(), which writes the
//   last message; when silent (--json) nothing is written at all.
// - The progress bar is drawn on the error descriptor (standard error) only
//   while that descriptor is a terminal; it shows the percentage, the bytes
//   of the image, the rate and the time left, behind the label when one is
//   set. Nothing else goes there, apart
//   from SystemBeep's BEL, likewise only on a terminal.
// - ProcessMessages waits with ppoll() on the converter's descriptor
//   (LinkEventFd of DeviceHandle) and on watched inputs until the next 100 ms
//   tick of the steady clock; it services the converter when that became
//   readable, runs a watched input's handler when it did, and runs the tick
//   when it is due. A pass ends after the first of these, so a reply is seen
//   at once and an idle wait costs almost nothing.
// - With an event descriptor set (a gang write's child), every status text
//   but the per-block ones goes there as one line {"event":"status",
//   "text":...}, and the programming's progress as {"event":"progress",
//   "done":BYTES,"total":BYTES,"elapsed_s":S}, at most every 100 ms and
//   always at its start and end, whatever the verbosity.
// - With StopOnSignals set, a stop signal recorded by cli/StopSignals.h sets
//   StopRequested in the first pass of the pump after it (the signal also
//   cuts that pass's wait short). From then on status texts are neither
//   shown nor kept: they are the write winding down, not news. ReportStop
//   then shows the one line that says how the write ended.
// - AppendMonitorLine writes the received bytes unchanged, without adding
//   line ends, to the monitor descriptor when one is set (the terminal
//   monitor: standard output), and drops them otherwise (a write, where
//   standard output carries the messages).
// - There is no file dialog: ChooseImageFile always cancels. The write
//   command hands the write its image itself (cli/WriteCli.cpp).
#pragma once

#include "core/FormCore.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class ConsoleForm : public FormCore {
public:
    enum class Verbosity { Silent, Quiet, Normal, Verbose };

    // `out`: where messages go; `errFd`: where the bar and the beep go.
    explicit ConsoleForm(Verbosity verbosity = Verbosity::Normal, FILE* out = stdout, int errFd = 2);
    ~ConsoleForm() override;

    // Front-end settings.
    // -1: received bytes are dropped.
    void SetMonitorOutput(int fd) { monitorFd_ = fd; }
    // One status line that each message replaces (normal verbosity only).
    void SetStatusOnOneLine(bool on) { oneLine_ = on && verbosity_ == Verbosity::Normal; }
    // How many received bytes went to the monitor descriptor so far.
    uint64_t MonitorBytes() const { return monitorBytes_; }
    // The last byte that went to the monitor descriptor; -1 before the first.
    int LastMonitorByte() const { return lastMonitorByte_; }
    // The size in bytes of the image being programmed, for the bar's byte
    // counts; 0 shows the bar's own units.
    void SetProgressBytes(uint64_t total) { progressBytes_ = total; }
    // A word in front of the bar ("verifying"); empty for none.
    void SetProgressLabel(const std::string& label) { progressLabel_ = label; }
    // Where the machine-readable events go; -1: nowhere.
    void SetEventOutput(int fd) { eventFd_ = fd; }
    void StopOnSignals(bool on) { stopOnSignals_ = on; }
    // Takes a recorded stop signal (see above); true once one was taken.
    bool CheckStop();
    // The signal that stopped the write, 0 while none did.
    int StopSignal() const { return stopSignal_; }
    // Shows `text` as the last status message after a stop.
    void ReportStop(const std::string& text);

    // Inputs that ProcessMessages also waits for: `onReadable` runs in the
    // pass in which `fd` became readable (or hung up).
    void WatchInput(int fd, std::function<void()> onReadable);
    void UnwatchInput(int fd);

    // Ends the output: closes the bar's line and, when quiet, writes the last
    // message. Only the first call does anything.
    void Finish();

    const std::string& LastStatusText() const { return lastStatus_; }
    const std::string& SerialShown() const { return serialShown_; }

    // FormCore's host interface.
    void ShowStatus(const std::string& text) override;
    bool SoundTicked() override { return true; }
    void SystemBeep() override;
    void ProcessMessages() override;
    void ShowSerialNumber(const std::string& text) override { serialShown_ = text; }
    void SetProgressMaximum(int maximum) override;
    void SetProgressPosition(int position) override;
    int ProgressPosition() override { return progressPos_; }
    bool ChooseImageFile(std::string& path) override;
    void AppendMonitorLine(const std::string& bytes) override;

private:
    using SteadyClock = std::chrono::steady_clock;

    void DrawBar(bool force);
    void ClearBar();
    void EndStatusLine();  // ends an open status line
    void EndBar();         // the bar's last state on a line of its own
    uint64_t ProgressTotal() const;
    uint64_t ProgressDone() const;
    void SendEvent(const std::string& json);
    void SendProgress(bool force);

    Verbosity verbosity_;
    FILE* out_;
    int errFd_;
    bool errIsTerminal_;
    int monitorFd_ = -1;
    int eventFd_ = -1;
    bool stopOnSignals_ = false;
    bool finished_ = false;
    int stopSignal_ = 0;
    SteadyClock::time_point eventLastProgress_;
    uint64_t monitorBytes_ = 0;
    int lastMonitorByte_ = -1;
    bool oneLine_ = false;         // SetStatusOnOneLine
    bool statusOpen_ = false;      // a status line stands open on the output
    bool statusAboveBar_ = false;  // the bar began below an open status line, which a message may still replace
    std::string lastStatus_;
    std::string serialShown_ = "xxxx";

    struct Watch {
        int fd;
        std::function<void()> onReadable;
    };
    std::vector<Watch> watches_;
    SteadyClock::time_point nextTick_;
    bool linkHungUntilTick_ = false;

    // The bar.
    int progressMax_ = 200;
    int progressPos_ = 0;
    uint64_t progressBytes_ = 0;
    std::string progressLabel_;
    bool barActive_ = false;  // programming has begun: the bar is shown
    bool barDrawn_ = false;   // a bar line stands on the terminal now
    SteadyClock::time_point barStart_;
    SteadyClock::time_point barLastDraw_;
};
