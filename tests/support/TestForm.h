// A FormCore on virtual time for tests. Each pass of the message pump moves the
// virtual clock to the next event: the next 100 ms tick, the next moment the
// opened device changes by itself (LinkNextDue), or the next scheduled user
// action; then it runs what fell due. A 300-tick wait takes microseconds.
#pragma once

#include "core/FormCore.h"
#include "link/Driver.h"
#include "session/Session.h"
#include "sim/Clock.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TestForm : public FormCore {
public:
    static constexpr int64_t kTick = 100000;  // microseconds

    VirtualClock clock;
    int64_t nextTick = kTick;

    // What the host shows.
    std::vector<std::string> statuses;  // every ShowStatus, in order
    int beeps = 0;                      // system beeps sounded
    bool sound = true;                  // the "Sound" box
    std::string serialShown = "xxxx";   // the serial-number field
    int progressMax = 200, progressPos = 0;
    std::vector<std::string> monitorLines;
    std::optional<std::string> fileChoice;  // nullopt: the user cancels
    int fileDialogs = 0;
    long pumpPasses = 0;
    long ticks = 0;

    // Runs `action` as user input once the virtual clock reaches `at`.
    void At(int64_t at, std::function<void()> action) { scheduled.emplace(at, std::move(action)); }

    std::string LastStatusText() const { return statuses.empty() ? std::string() : statuses.back(); }

    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    bool SoundTicked() override { return sound; }
    void SystemBeep() override { ++beeps; }
    void ShowSerialNumber(const std::string& text) override { serialShown = text; }
    void SetProgressMaximum(int m) override { progressMax = m; }
    void SetProgressPosition(int p) override {
        if (p >= 0 && p <= progressMax) progressPos = p;  // as a progress bar does
    }
    int ProgressPosition() override { return progressPos; }
    bool ChooseImageFile(std::string& path) override {
        ++fileDialogs;
        if (!fileChoice) return false;
        path = *fileChoice;
        return true;
    }
    void AppendMonitorLine(const std::string& bytes) override { monitorLines.push_back(bytes); }

    void ProcessMessages() override {
        ++pumpPasses;
        const int64_t now = clock.now;
        int64_t next = nextTick;
        int64_t due = LinkNextDue(DeviceHandle);
        if (due > now && due < next) next = due;
        if (!scheduled.empty() && scheduled.begin()->first < next)
            next = scheduled.begin()->first > now ? scheduled.begin()->first : now;
        clock.AdvanceTo(next);
        while (!scheduled.empty() && scheduled.begin()->first <= clock.now) {
            auto action = std::move(scheduled.begin()->second);
            scheduled.erase(scheduled.begin());
            action();
        }
        if (clock.now >= nextTick) {
            nextTick += kTick;
            ++ticks;
            Timer1Timer(*this);
        }
    }

    // Runs the pump until the virtual clock has passed `micros` more.
    void RunFor(int64_t micros) {
        const int64_t end = clock.now + micros;
        while (clock.now < end) ProcessMessages();
    }

private:
    std::multimap<int64_t, std::function<void()>> scheduled;
};
