#include "link/TtyDevice.h"
#include "link/TtyRate.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

struct TtyDeviceTest : ::testing::Test {
    PtyPair pty;
    std::unique_ptr<TtyDevice> dev;

    void SetUp() override {
        ASSERT_FALSE(pty.slavePath.empty());
        ASSERT_EQ(TtyDevice::Open(pty.slavePath, &dev), 0u);
    }
    termios Attributes() const {
        termios t{};
        tcgetattr(pty.slave, &t);
        return t;
    }
    // Polls the device until `count` bytes wait in its queue or a second passed.
    uint32_t WaitForQueue(uint32_t count) {
        uint32_t rx = 0, tx = 0, ev = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (dev->GetStatus(&rx, &tx, &ev) == 0 && rx < count && std::chrono::steady_clock::now() < end)
            Readable(dev->EventFd(), 10);
        return rx;
    }
    std::vector<uint8_t> ReadAll(uint32_t count) {
        std::vector<uint8_t> b(count);
        uint32_t n = 0;
        EXPECT_EQ(dev->ReadBytes(b.data(), count, &n), 0u);
        b.resize(n);
        return b;
    }
};

TEST_F(TtyDeviceTest, OpensRaw8N1At19200WithoutFlowControl) {
    const termios t = Attributes();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(TtyDeviceTest, StandardRatesUseTheirConstants) {
    struct Case {
        uint32_t rate;
        speed_t speed;
    };
    for (Case c : {Case{38400, B38400}, Case{19200, B19200}, Case{115200, B115200}, Case{9600, B9600}}) {
        EXPECT_EQ(dev->SetBaudRate(c.rate), 0u) << c.rate;
        const termios t = Attributes();
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.rate;
        EXPECT_EQ(cfgetispeed(&t), c.speed) << c.rate;
    }
}

TEST_F(TtyDeviceTest, AnyRateReachesTheFarEndAsAsked) {
    for (uint32_t rate : {390625u, 12345u, 250000u, 38400u, 1u}) {
        EXPECT_EQ(dev->SetBaudRate(rate), 0u) << rate;
        uint32_t seen = 0;
        ASSERT_EQ(GetTtyRate(pty.master, &seen), 0) << rate;
        EXPECT_EQ(seen, rate) << "read on the other end of the pair";
    }
    // Line settings changed later through the C library's termios keep the rate.
    ASSERT_EQ(dev->SetBaudRate(390625), 0u);
    ASSERT_EQ(dev->SetDataCharacteristics(8, 0, 0), 0u);
    uint32_t seen = 0;
    ASSERT_EQ(GetTtyRate(pty.slave, &seen), 0);
    EXPECT_EQ(seen, 390625u);

    EXPECT_EQ(dev->SetBaudRate(0), static_cast<uint32_t>(LINK_INVALID_PARAMETER)) << "0 would hang up";
    ASSERT_EQ(GetTtyRate(pty.slave, &seen), 0);
    EXPECT_EQ(seen, 390625u) << "a refused rate changes nothing";
}

TEST(TtyRate, ReadBackWithinTheConverterRoundingIsAccepted) {
    struct Case {
        uint32_t asked, got;
        bool accepted;
    };
    const Case cases[] = {
        {38400, 38400, true},          {390625, 393442, true},  // FT232R: 3,000,000 / 7.625
        {115200, 115384, true},                                 // FT232R: 3,000,000 / 26
        {100000, 103000, true},                                 // 3 % above: the limit
        {100000, 97000, true},                                  // 3 % below
        {100000, 103001, false},       {100000, 96999, false},
        {5000000, 9600, false},  // ftdi_sio's fallback for a rate it cannot reach
        {4000000000u, 3000000, false},
    };
    for (const Case& c : cases) EXPECT_EQ(RateWithinRounding(c.asked, c.got), c.accepted) << c.asked << " -> " << c.got;
}

TEST_F(TtyDeviceTest, DataCharacteristics) {
    // A pseudo-terminal keeps itself at 8 bits without parity whatever it is
    // told; the stop bits show that the setting reached it.
    EXPECT_EQ(dev->SetDataCharacteristics(7, 2, 2), 0u);
    termios t = Attributes();
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(dev->SetDataCharacteristics(8, 0, 0), 0u);
    t = Attributes();
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    for (auto bad : {std::array<uint8_t, 3>{9, 0, 0}, {8, 1, 0}, {8, 0, 5}})
        EXPECT_NE(dev->SetDataCharacteristics(bad[0], bad[1], bad[2]), 0u);
    EXPECT_EQ(dev->SetTimeouts(0, 0), 0u);
    EXPECT_EQ(dev->SetUsbParameters(10000, 10000), 0u);
}

TEST_F(TtyDeviceTest, EveryByteValuePassesBothWaysUnchanged) {
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);

    uint32_t written = 0;
    EXPECT_EQ(dev->WriteBytes(all.data(), 256, &written), 0u);
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(pty.Receive(256), all);

    pty.Send(all);
    EXPECT_EQ(WaitForQueue(256), 256u);
    EXPECT_EQ(ReadAll(256), all);
}

TEST_F(TtyDeviceTest, GetStatusCountsExactlyAndReadTakesOldestFirst) {
    pty.Send({1, 2, 3, 4, 5});
    EXPECT_EQ(WaitForQueue(5), 5u);
    uint32_t rx = 0, tx = 0, ev = 0;
    EXPECT_EQ(dev->GetStatus(&rx, &tx, &ev), 0u);
    EXPECT_EQ(rx, 5u) << "a second poll sees the same bytes, no more, no fewer";
    EXPECT_EQ(ReadAll(2), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(dev->GetStatus(&rx, &tx, &ev), 0u);
    EXPECT_EQ(rx, 3u);
    pty.Send({6});
    EXPECT_EQ(WaitForQueue(4), 4u);
    EXPECT_EQ(ReadAll(10), (std::vector<uint8_t>{3, 4, 5, 6})) << "asking for more delivers what is there";
    EXPECT_EQ(ReadAll(10), std::vector<uint8_t>{}) << "an empty queue reads nothing, at once";
}

TEST_F(TtyDeviceTest, ServiceQuietsTheDescriptorWithoutLosingBytes) {
    pty.Send({0xE6});
    ASSERT_TRUE(Readable(dev->EventFd(), 1000));
    dev->Service();
    EXPECT_FALSE(Readable(dev->EventFd(), 0)) << "a level-triggered wait must not wake again";
    uint32_t rx = 0, tx = 0, ev = 0;
    EXPECT_EQ(dev->GetStatus(&rx, &tx, &ev), 0u);
    EXPECT_EQ(rx, 1u);
    EXPECT_EQ(ReadAll(1), std::vector<uint8_t>{0xE6});
}

TEST_F(TtyDeviceTest, PurgeDropsQueuedAndKernelHeldBytes) {
    pty.Send({9, 9, 9});
    EXPECT_EQ(WaitForQueue(3), 3u);  // in the user-space queue
    pty.Send({8, 8});
    ASSERT_TRUE(Readable(dev->EventFd(), 1000));  // still in the kernel
    EXPECT_EQ(dev->PurgeBuffers(PURGE_BOTH), 0u);
    uint32_t rx = 0, tx = 0, ev = 0;
    EXPECT_EQ(dev->GetStatus(&rx, &tx, &ev), 0u);
    EXPECT_EQ(rx, 0u);
    pty.Send({7});
    EXPECT_EQ(WaitForQueue(1), 1u);
    EXPECT_EQ(ReadAll(5), std::vector<uint8_t>{7}) << "only bytes after the purge are read";
}

TEST_F(TtyDeviceTest, ModemLinesFailOnAPtyWithoutHarm) {
    EXPECT_NE(dev->SetDtr(), 0u);
    EXPECT_NE(dev->ClearDtr(), 0u);
    EXPECT_NE(dev->SetRts(), 0u);
    EXPECT_NE(dev->ClearRts(), 0u);
    EXPECT_FALSE(dev->Dead());
    uint32_t n = 0;
    const uint8_t b = 0x55;
    EXPECT_EQ(dev->WriteBytes(&b, 1, &n), 0u);
    EXPECT_EQ(pty.Receive(1), std::vector<uint8_t>{0x55});
    pty.Send({0x06});
    EXPECT_EQ(WaitForQueue(1), 1u);
}

TEST_F(TtyDeviceTest, LostPortFailsEverythingAndGoesQuiet) {
    pty.Send({1, 2});
    EXPECT_EQ(WaitForQueue(2), 2u);
    pty.CloseMaster();  // as when the converter is unplugged

    uint32_t rx = 9, tx = 9, ev = 9;
    EXPECT_NE(dev->GetStatus(&rx, &tx, &ev), 0u);
    EXPECT_EQ(rx, 0u);
    EXPECT_TRUE(dev->Dead());
    uint8_t b[4] = {};
    uint32_t n = 9;
    EXPECT_NE(dev->ReadBytes(b, 4, &n), 0u);
    EXPECT_EQ(n, 0u);
    EXPECT_NE(dev->WriteBytes(b, 4, &n), 0u);
    EXPECT_NE(dev->SetBaudRate(38400), 0u);
    EXPECT_NE(dev->PurgeBuffers(PURGE_BOTH), 0u);
    EXPECT_NE(dev->SetDtr(), 0u);
    ASSERT_GE(dev->EventFd(), 0);
    EXPECT_FALSE(Readable(dev->EventFd(), 20)) << "a dead port must not keep an event loop awake";
}

TEST(TtyDeviceOpen, FailsCleanlyOnWhatIsNotASerialPortAndSaysWhy) {
    struct Case {
        const char* path;
        uint32_t status;
        std::string reason;
    };
    const Case cases[] = {
        {"/nonexistent/ttyUSB9", LINK_DEVICE_NOT_FOUND, std::string("/nonexistent/ttyUSB9: ") + std::strerror(ENOENT)},
        {"/dev/null", LINK_NOT_SUPPORTED, std::string("/dev/null: not a serial port (") + std::strerror(ENOTTY) + ")"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<TtyDevice> dev;
        std::string reason;
        EXPECT_EQ(TtyDevice::Open(c.path, &dev, &reason), c.status) << c.path;
        EXPECT_EQ(dev, nullptr);
        EXPECT_EQ(reason, c.reason);
    }
}

}  // namespace
