#include "sim/SimPty.h"

#include "sim/Clock.h"
#include "sim/SimBoard.h"
#include "sim/TtyLineSettings.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int gStopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char c = 1;
    ssize_t ignored = ::write(gStopPipe[1], &c, 1);
    (void)ignored;
}

// What the host side has not taken yet is kept up to this much, as a
// converter's buffer would; beyond it bytes are dropped.
constexpr size_t kMaxPending = 64 * 1024;

class PtyServer {
public:
    PtyServer(const std::string& link, const SimOptions& options) : link_(link), options_(options) {
        options_.noModemLines = true;
    }
    ~PtyServer() {
        if (linked_) {
            // Only our own link goes.
            char target[256] = {};
            ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
            if (n > 0 && slaveName_ == std::string(target, static_cast<size_t>(n))) ::unlink(link_.c_str());
        }
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }

    bool Open(std::string* error) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return Fail("pty", error);
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) != 0) return Fail("pty", error);
        slaveName_ = name;
        // The slave stays open here, so the master never sees a hang-up when
        // the host closes its side, and its termios can be read at any time.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) return Fail(slaveName_, error);
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
        ::tcsetattr(slave_, TCSANOW, &t);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

        struct stat st {};
        if (::lstat(link_.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                *error = link_ + ": exists and is not a symbolic link";
                return false;
            }
            ::unlink(link_.c_str());
        }
        if (::symlink(name, link_.c_str()) != 0) return Fail(link_, error);
        linked_ = true;
        return true;
    }

    const std::string& SlaveName() const { return slaveName_; }

    // Serves until a byte arrives on stopFd.
    void Serve(int stopFd) {
        RealClock clock;
        SimBoard board(options_);
        board.Advance(clock.NowMicros());
        uint8_t buffer[4096];
        for (;;) {
            // Bring the board up to now, with the host's current settings.
            Track(board);
            board.Advance(clock.NowMicros());
            // What reached the host's receive queue goes to the master.
            auto& rx = board.HostReceiveQueue();
            while (!rx.empty()) {
                if (pending_.size() < kMaxPending) pending_.push_back(static_cast<char>(rx.front()));
                rx.pop_front();
            }
            Flush();
            // Wait for the host, the next event of the board, or the stop.
            pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0},
                             {stopFd, POLLIN, 0}};
            timespec wait{};
            timespec* timeout = nullptr;
            const int64_t due = board.NextWake();
            if (due >= 0) {
                int64_t micros = due - clock.NowMicros();
                if (micros < 0) micros = 0;
                wait.tv_sec = static_cast<time_t>(micros / 1000000);
                wait.tv_nsec = static_cast<long>(micros % 1000000) * 1000;
                timeout = &wait;
            }
            if (::ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR) return;
            if (fds[1].revents & POLLIN) return;
            // Bytes from the host enter the wire now, at the host's rate.
            if (fds[0].revents & POLLIN) {
                ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    Track(board);
                    board.Advance(clock.NowMicros());
                    board.HostWrite(buffer, static_cast<uint32_t>(n));
                }
            }
        }
    }

private:
    bool Fail(const std::string& what, std::string* error) {
        *error = what + ": " + std::strerror(errno);
        return false;
    }

    void Track(SimBoard& board) {
        TtyLineSettings s;
        if (!ReadTtyLineSettings(slave_, &s)) return;
        board.SetHostRate(s.rate);
        board.SetHostFraming(s.bits, s.stop, s.parity);
    }

    void Flush() {
        while (!pending_.empty()) {
            ssize_t n = ::write(master_, pending_.data(), pending_.size());
            if (n <= 0) return;
            pending_.erase(0, static_cast<size_t>(n));
        }
    }

    std::string link_;
    SimOptions options_;
    int master_ = -1, slave_ = -1;
    std::string slaveName_;
    bool linked_ = false;
    std::string pending_;
};

}  // namespace

int RunSimPty(const std::string& linkPath, const SimOptions& options) {
    // The stop signals, before anything needs cleaning up.
    if (::pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "h8sxwriter sim: pipe: %s\n", std::strerror(errno));
        return 1;
    }
    struct sigaction stop {
    }, oldInt{}, oldTerm{};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGINT, &stop, &oldInt);
    ::sigaction(SIGTERM, &stop, &oldTerm);

    // The pty and the link; served until a signal arrives.
    int result = 0;
    {
        PtyServer server(linkPath, options);
        std::string error;
        if (server.Open(&error)) {
            std::printf("simulated board on %s (%s); Ctrl-C ends\n", linkPath.c_str(), server.SlaveName().c_str());
            std::fflush(stdout);
            server.Serve(gStopPipe[0]);
        } else {
            std::fprintf(stderr, "h8sxwriter sim: %s\n", error.c_str());
            result = 1;
        }
    }

    // The previous signal handling back.
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    ::close(gStopPipe[0]);
    ::close(gStopPipe[1]);
    gStopPipe[0] = gStopPipe[1] = -1;
    return result;
}
