// Runs the real h8sxwriter executable for the end-to-end tests: its output
// captured, a time limit so that nothing hangs, and a spawned background
// process (the pty board) that is stopped with SIGTERM.
#pragma once

#include "support/TempDir.h"

#include <sys/types.h>
#include <functional>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;  // exit status; -1 when it had to be killed or died by a signal
    bool timedOut = false;
    std::string out, err;
    std::vector<std::string> OutLines() const;
};

// Runs H8SXWRITER_EXE with `args`, standard input from `input` (empty: an
// empty input), for at most `timeoutSeconds`.
RunResult RunWriter(const std::vector<std::string>& args, double timeoutSeconds, const std::string& input = "");
// The same, with `meanwhile` called with the process's id once it runs (to
// signal it, for instance); the time limit counts from its return.
RunResult RunWriterWhile(const std::vector<std::string>& args, double timeoutSeconds,
                         const std::function<void(pid_t)>& meanwhile);

// A writer process in the background (e.g. `sim --pty LINK`).
class Background {
public:
    explicit Background(const std::vector<std::string>& args);
    ~Background();  // SIGTERM, then SIGKILL if it does not end within 2 s
    // Sends SIGTERM and waits up to `seconds`; the exit status, or -1.
    int Stop(double seconds = 2.0);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

std::string ReadFile(const std::string& path, bool* exists = nullptr);
void WriteFile(const std::string& path, const std::string& content);
bool WaitForPath(const std::string& path, double seconds);
