// Time for the simulated board: real time for the demo and the command line,
// virtual time in tests (the test host moves it forward).
#pragma once

#include <chrono>
#include <cstdint>

struct Clock {
    virtual ~Clock() = default;
    virtual int64_t NowMicros() = 0;
};

struct RealClock : Clock {
    int64_t NowMicros() override {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

struct VirtualClock : Clock {
    int64_t now = 0;
    int64_t NowMicros() override { return now; }
    void AdvanceTo(int64_t t) {
        if (t > now) now = t;
    }
};
