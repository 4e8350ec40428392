// SIGINT, SIGTERM and SIGHUP as a request to stop, for the commands that end
// cleanly instead of dying at once.
//
// Contract
// - While a StopSignals lives, each of the three signals only records its
//   number (the last one wins) and interrupts the system call it arrives in
//   (no SA_RESTART), so a wait in poll() or ppoll() returns at once with
//   EINTR. The previous handlers come back when it goes.
// - PendingStopSignal() is the recorded signal, 0 when none arrived since
//   the StopSignals was made (or since TakeStopSignal took it).
// - ExitStatusOfSignal gives the shell's status for it: 128 + the number
//   (130 SIGINT, 143 SIGTERM, 129 SIGHUP).
#pragma once

#include <csignal>
#include <string>

class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction oldInt_ {
    }, oldTerm_{}, oldHup_{};
};

int PendingStopSignal();
// The recorded signal, which is cleared: a second Ctrl-C is seen again.
int TakeStopSignal();
constexpr int ExitStatusOfSignal(int signal) { return 128 + signal; }
// "SIGINT", "SIGTERM", "SIGHUP", else "signal N".
std::string StopSignalName(int signal);
