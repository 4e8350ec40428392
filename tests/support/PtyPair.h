// A pseudo-terminal pair for tests of the tty backend: the backend opens the
// slave by its path, the test plays the converter's far side on the master.
// Waits here are on the descriptors (poll), bounded, never fixed sleeps.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <string>
#include <vector>

struct PtyPair {
    int master = -1;
    int slave = -1;  // kept open so the slave side never hangs up on its own
    std::string slavePath;

    PtyPair() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            slavePath = name;
            termios t{};
            tcgetattr(master, &t);
            cfmakeraw(&t);
            tcsetattr(master, TCSANOW, &t);
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~PtyPair() {
        CloseMaster();
        if (slave >= 0) close(slave);
    }
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }

    void Send(const std::vector<uint8_t>& bytes) const {
        ssize_t n = write(master, bytes.data(), bytes.size());
        (void)n;
    }
    // Reads from the master until `count` bytes came or `ms` passed.
    std::vector<uint8_t> Receive(size_t count, int ms = 1000) const {
        std::vector<uint8_t> got;
        while (got.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, ms) <= 0) break;
            uint8_t buf[512];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
};

inline bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
}
