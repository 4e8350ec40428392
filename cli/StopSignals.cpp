#include "cli/StopSignals.h"

namespace {

volatile std::sig_atomic_t gStopSignal = 0;
void OnStopSignal(int sig) { gStopSignal = sig; }

}  // namespace

StopSignals::StopSignals() {
    gStopSignal = 0;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &oldInt_);
    ::sigaction(SIGTERM, &sa, &oldTerm_);
    ::sigaction(SIGHUP, &sa, &oldHup_);
}

StopSignals::~StopSignals() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    ::sigaction(SIGHUP, &oldHup_, nullptr);
}

int PendingStopSignal() { return gStopSignal; }

int TakeStopSignal() {
    const int sig = gStopSignal;
    gStopSignal = 0;
    return sig;
}

std::string StopSignalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    }
    return "signal " + std::to_string(signal);
}
