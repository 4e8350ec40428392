// The pty mode end to end: a child process serves the board on a pty, the test
// drives it through the link with plain termios, on real time.
#include "sim/SimPty.h"
#include "sim/UserProgram.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

void SetRate(int fd, speed_t rate) {
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, rate);
    ::cfsetospeed(&t, rate);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
}

// Reads until `want` bytes came and 20 ms passed quietly, or `ms` passed.
Bytes ReadFor(int fd, size_t want, int ms) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        int quiet = got.size() >= want ? 20 : static_cast<int>(left);
        if (::poll(&p, 1, quiet < left ? quiet : static_cast<int>(left)) <= 0) {
            if (got.size() >= want) break;
            continue;
        }
        uint8_t b[512];
        ssize_t n = ::read(fd, b, sizeof b);
        if (n > 0) got.insert(got.end(), b, b + n);
    }
    return got;
}

Bytes Exchange(int fd, const Bytes& frame, size_t want = 1, int ms = 1000) {
    ::tcflush(fd, TCIOFLUSH);
    EXPECT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    return ReadFor(fd, want, ms);
}

Bytes Framed(Bytes b) {
    uint8_t sum = 0;
    for (uint8_t x : b) sum = static_cast<uint8_t>(sum + x);
    b.push_back(static_cast<uint8_t>(0u - sum));
    return b;
}

TEST(SimPty, ServesTheBootSessionThenTheUserProgram) {
    char dir[] = "/tmp/h8simptyXXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/board";

    Child child;
    child.pid = ::fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        SimOptions options;
        options.eraseMicros = 20000;
        ::_exit(RunSimPty(link, options));
    }
    struct stat st {};
    for (int i = 0; i < 500 && ::lstat(link.c_str(), &st) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(S_ISLNK(st.st_mode));

    int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);

    // At the wrong rate the chip cannot measure the 0x00 bytes.
    SetRate(fd, B38400);
    EXPECT_EQ(Exchange(fd, {0x00}, 1, 150), Bytes{});

    SetRate(fd, B19200);
    EXPECT_EQ(Exchange(fd, {0x00}), Bytes{0x00});
    EXPECT_EQ(Exchange(fd, {0x55}), Bytes{0xE6});
    Bytes devices = Exchange(fd, {0x20}, 17);
    ASSERT_GT(devices.size(), 16u);
    EXPECT_EQ(devices[0], 0x30);
    EXPECT_EQ(Exchange(fd, {0x10, 0x04, 0x33, 0x75, 0x30, 0x31, 0xE3}), Bytes{0x06});
    EXPECT_EQ(Exchange(fd, {0x21}, 3).at(0), 0x31);
    EXPECT_EQ(Exchange(fd, {0x11, 0x01, 0x00, 0xEE}), Bytes{0x06});
    EXPECT_EQ(Exchange(fd, {0x22}, 10).at(0), 0x32);
    EXPECT_EQ(Exchange(fd, {0x23}, 12).at(0), 0x33);
    EXPECT_EQ(Exchange(fd, {0x3F, 0x07, 0x01, 0x80, 0x04, 0xE2, 0x02, 0x04, 0x02, 0x4B}), Bytes{0x06});
    SetRate(fd, B38400);
    EXPECT_EQ(Exchange(fd, {0x06}), Bytes{0x06});
    EXPECT_EQ(Exchange(fd, {0x40}), Bytes{0x06});
    EXPECT_EQ(Exchange(fd, {0x43}), Bytes{0x06});

    // Two blocks of image, then the trailer in a third.
    Bytes flash(384, 0xFF);
    for (size_t i = 0; i < 256; ++i) flash[i] = static_cast<uint8_t>(i ^ 0x5A);
    const std::string marker = "QXA060220";
    std::copy(marker.begin(), marker.end(), flash.begin() + 256 + 5);
    for (uint32_t a = 0; a < 384; a += 128) {
        Bytes block{0x50, 0, 0, static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)};
        block.insert(block.end(), flash.begin() + a, flash.begin() + a + 128);
        EXPECT_EQ(Exchange(fd, Framed(block)), Bytes{0x06}) << "block at " << a;
    }

    // The end command's acknowledgement, then the new program's banner.
    const std::string banner = UserProgramBanner(SummarizeFlash(flash.data(), flash.size()));
    EXPECT_EQ(banner.find("256 bytes"), banner.find("256"));
    Bytes reply = Exchange(fd, {0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4}, 1 + banner.size(), 2000);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[0], 0x06);
    EXPECT_EQ(std::string(reply.begin() + 1, reply.end()), banner);
    EXPECT_EQ(Exchange(fd, {'h', 'i'}, 2), (Bytes{'h', 'i'}));
    ::close(fd);

    // SIGTERM ends it cleanly and takes the link away.
    ASSERT_EQ(::kill(child.pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    child.pid = -1;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    ::rmdir(dir);
}

}  // namespace
