// A whole boot-mode session against the board, on virtual time: bit-rate
// adjustment, inquiries and selections, new bit rate, erase, user-MAT
// selection, blocks and the end command, then the restart into the new
// program with its banner and echo.
#include "SimHost.h"
#include "sim/UserProgram.h"
#include "support/SimScope.h"

#include <gtest/gtest.h>

namespace {

Bytes TestImage(size_t length) {
    Bytes image(length);
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    // The writer's trailer right behind the image, padded to a whole block.
    Bytes trailer(128, 0xFF);
    const std::string marker = "QXA060220";
    std::copy(marker.begin(), marker.end(), trailer.begin() + 5);
    image.insert(image.end(), trailer.begin(), trailer.end());
    return image;
}

// Runs the session up to the acknowledged user-MAT selection.
void BootToProgramming(TestForm& form, SimBoard& board) {
    EnterBootModeLines(form);
    ASSERT_EQ(board.Inspect().state, SimState::Starting);
    form.WaitForTicks(1);  // start-up time
    EXPECT_EQ(Exchange(form, {0x00}), Bytes{0x00});
    EXPECT_EQ(Exchange(form, {0x55}), Bytes{0xE6});

    Bytes devices = Exchange(form, {0x20}, 17);
    ASSERT_GT(devices.size(), 16u);
    EXPECT_EQ(devices[0], 0x30);
    EXPECT_EQ(devices[1] + 3u, devices.size());
    EXPECT_TRUE(SumsToZero(devices));
    EXPECT_NE(Text(devices).find("3u01H8SX/1622F"), std::string::npos);

    EXPECT_EQ(Exchange(form, kSelectDevice), Bytes{0x06});
    Bytes modes = Exchange(form, {0x21}, 3);
    ASSERT_GE(modes.size(), 3u);
    EXPECT_EQ(modes[0], 0x31);
    EXPECT_TRUE(SumsToZero(modes));
    EXPECT_EQ(Exchange(form, kSelectClockMode), Bytes{0x06});
    Bytes ratios = Exchange(form, {0x22}, 10);
    ASSERT_GE(ratios.size(), 10u);
    EXPECT_EQ(ratios[0], 0x32);
    EXPECT_TRUE(SumsToZero(ratios));
    Bytes freqs = Exchange(form, {0x23}, 12);
    ASSERT_GE(freqs.size(), 12u);
    EXPECT_EQ(freqs[0], 0x33);
    EXPECT_TRUE(SumsToZero(freqs));

    EXPECT_EQ(Exchange(form, kNewBitRate38400), Bytes{0x06});
    EXPECT_EQ(board.Inspect().chipRate, 38400u);
    SetBaudRate(DeviceHandle, 38400);
    EXPECT_EQ(Exchange(form, {0x06}), Bytes{0x06});

    const int64_t eraseStart = form.clock.now;
    EXPECT_EQ(Exchange(form, {0x40}, 1, 300), Bytes{0x06});
    EXPECT_GE(form.clock.now - eraseStart, 500000);
    EXPECT_LT(form.clock.now - eraseStart, 700000);
    EXPECT_EQ(board.Inspect().log.erases, 1);
    EXPECT_EQ(Exchange(form, {0x43}), Bytes{0x06});
    EXPECT_EQ(board.Inspect().state, SimState::Programming);
}

TEST(SimSession, ProgramsTheImageAndStartsIt) {
    TestForm form;
    form.LinkBusy = 1;  // as during a write: the monitor's pump stays off the link
    SimOptions options;
    SimScope sim(form, options);
    SimBoard& board = sim.board;

    // Whatever the flash held before is erased by the session.
    board.LoadFlash(Bytes(4096, 0x00));
    BootToProgramming(form, board);

    const size_t length = 3000;
    Bytes image = TestImage(length);
    const size_t blocks = (length + 127) / 128;
    for (size_t i = 0; i < blocks; ++i)
        ASSERT_EQ(Exchange(form, BlockCommand(static_cast<uint32_t>(i * 128), &image[i * 128])), Bytes{0x06})
            << "block " << i;
    EXPECT_EQ(Exchange(form, Bytes(proto::kEndCommand, proto::kEndCommand + 6)), Bytes{0x06});

    EXPECT_EQ(board.Inspect().log.FramesOf(0x50).size(), blocks + 1);
    EXPECT_EQ(board.Inspect().log.blocksProgrammed, static_cast<int>(blocks));
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + blocks * 128, board.Inspect().flash.begin()));
    EXPECT_TRUE(std::all_of(board.Inspect().flash.begin() + blocks * 128, board.Inspect().flash.end(),
                            [](uint8_t b) { return b == 0xFF; }));

    // The restart into the new program: banner at 38400 bit/s, then echo.
    PurgeBuffers(DeviceHandle, PURGE_BOTH);
    ResetTargetLines(form);
    EXPECT_EQ(board.Inspect().state, SimState::Starting);
    Bytes banner = Collect(form, 60, 5);
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += image[i];
    char expected[80];
    std::snprintf(expected, sizeof expected, "H8SX/1622 user program: 3000 bytes, sum 0x%04X\r\n", sum & 0xFFFF);
    EXPECT_EQ(Text(banner), expected);
    EXPECT_EQ(UserProgramBanner(SummarizeFlash(board.Inspect().flash.data(), board.Inspect().flash.size())), expected);
    EXPECT_EQ(board.Inspect().state, SimState::UserProgram);

    EXPECT_EQ(Text(Exchange(form, {'a', 'B', '\r'}, 3)), "aB\r");
}

}  // namespace
