// `monitor`: the terminal serial monitor.
//
// It connects as the start-up does, with the connection's messages on
// standard error, since standard output carries the target's bytes, and
// switches the link to the monitor's 38400 bit/s as VIEW does. With --reset
// it restarts the target into its program as CPU_RESET does, then gives the
// program two ticks to start before any input goes out (a starting chip loses
// what reaches it). From then on received bytes go to standard output,
// unchanged, through the receive pump of every tick; bytes from standard
// input go to the target while the link is idle. A terminal on standard
// input is put in raw mode (restored on every way out) and Ctrl-] quits. From
// a pipe or a file, the monitor ends one second after the input's end once
// the target has fallen quiet. --seconds N ends it after N seconds instead.
// SIGINT, SIGTERM and SIGHUP end it cleanly. Enter on the terminal (a CR in
// raw mode) sends what --eol chose; piped input goes out unchanged.
//
// On a terminal, a last line the target left open is ended at the end, so
// the shell's prompt does not overwrite it.
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"
#include "cli/StopSignals.h"

#include "link/Driver.h"
#include "monitor/Monitor.h"

#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

namespace {

constexpr unsigned char kQuitKey = 0x1D;  // Ctrl-]
constexpr auto kDrain = std::chrono::seconds(1);

// Raw mode on the standard input's terminal for the life of the object. The
// output side keeps its settings, so the target's line ends show as usual.
class RawTerminal {
public:
    explicit RawTerminal(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0) return;
        termios raw = saved_;
        ::cfmakeraw(&raw);
        raw.c_oflag = saved_.c_oflag;
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(fd_, TCSANOW, &raw) == 0;
    }
    ~RawTerminal() {
        if (active_) ::tcsetattr(fd_, TCSANOW, &saved_);
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

}  // namespace

int RunMonitor(const CliArgs& args) {
    using SteadyClock = std::chrono::steady_clock;
    LinkChoice link = args.link;
    if (int status = SetUpLink(link); status != kLinkReady) return status;

    ConsoleForm form(ConsoleForm::Verbosity::Normal, stderr);
    if (!ConnectAsStartUp(form)) return kExitFailure;

    MonitorView(form);
    const bool interactive = ::isatty(STDIN_FILENO) == 1;
    if (interactive) std::fprintf(stderr, "monitor at 38400 bit/s; Ctrl-] quits\n");
    StopSignals signals;
    RawTerminal rawTerminal(interactive ? STDIN_FILENO : -1);

    // The target's bytes are shown from here on, so the restart's start-up
    // text appears too.
    form.SetMonitorOutput(STDOUT_FILENO);
    if (args.reset) {
        CpuReset(form);
        form.WaitForTicks(2);
    }

    bool quit = false;
    bool inputEnded = false;
    auto inputEnd = SteadyClock::now();

    form.WatchInput(STDIN_FILENO, [&] {
        unsigned char buf[256];
        ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (n <= 0) {
            form.UnwatchInput(STDIN_FILENO);
            inputEnded = true;
            inputEnd = SteadyClock::now();
            if (interactive) quit = true;  // the terminal went away
            return;
        }
        std::string send(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
        if (interactive) {
            const size_t quitAt = send.find(static_cast<char>(kQuitKey));
            if (quitAt != std::string::npos) {
                send.erase(quitAt);
                quit = true;
            }
            if (args.enter != "\r") {
                std::string translated;
                for (char c : send) {
                    if (c == '\r')
                        translated += args.enter;
                    else
                        translated += c;
                }
                send.swap(translated);
            }
        }
        if (!send.empty() && !form.LinkBusy) {
            uint32_t written = 0;
            WriteBytes(DeviceHandle, reinterpret_cast<const uint8_t*>(send.data()), static_cast<uint32_t>(send.size()),
                       &written);
        }
    });

    const auto start = SteadyClock::now();
    uint64_t seenBytes = form.MonitorBytes();
    auto lastOutput = start;
    while (!quit && PendingStopSignal() == 0) {
        form.ProcessMessages();
        const auto now = SteadyClock::now();
        if (form.MonitorBytes() != seenBytes) {
            seenBytes = form.MonitorBytes();
            lastOutput = now;
        }
        if (args.seconds >= 0) {
            if (now - start >= std::chrono::duration<double>(args.seconds)) break;
        } else if (inputEnded && !interactive) {
            const auto quietSince = lastOutput > inputEnd ? lastOutput : inputEnd;
            if (now - quietSince >= kDrain) break;
        }
    }
    form.UnwatchInput(STDIN_FILENO);

    // The target's last line, ended on a terminal.
    if (::isatty(STDOUT_FILENO) == 1 && form.LastMonitorByte() >= 0 && form.LastMonitorByte() != '\n') {
        [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, "\n", 1);
    }
    return kExitOk;
}
