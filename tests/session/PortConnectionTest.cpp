// The start-up connection against a real pseudo-terminal named with --port.
#include "link/TtyProvider.h"
#include "session/Connection.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>

TEST(PortConnection, OpensTheNamedPortAndTalksOverIt) {
    PtyPair pty;
    ASSERT_FALSE(pty.slavePath.empty());
    TempDir dir;
    SetLinkProvider(MakeTtyPortProvider(pty.slavePath));
    DeviceHandle = nullptr;

    TestForm form;
    FormShow(form, SettingsPlaces{dir.path, ""});
    EXPECT_EQ(form.LastStatusText(), "USB Serial Number Open Success!");
    ASSERT_NE(DeviceHandle, nullptr);
    // /dev/pts/N is listed as "ptsN".
    EXPECT_EQ(form.serialShown, "pts" + pty.slavePath.substr(pty.slavePath.find_last_of('/') + 1));

    const uint8_t out[2] = {0x00, 0x55};
    uint32_t n = 0;
    EXPECT_EQ(WriteBytes(DeviceHandle, out, 2, &n), 0u);
    EXPECT_EQ(pty.Receive(2), (std::vector<uint8_t>{0x00, 0x55}));

    SetLinkProvider(nullptr);
    DeviceHandle = nullptr;
}

TEST(PortConnection, AMissingPortIsNotListedAndNotOpened) {
    TempDir dir;
    SetLinkProvider(MakeTtyPortProvider(dir.Sub("ttyNothing")));
    DeviceHandle = nullptr;
    TestForm form;
    testing::internal::CaptureStderr();
    FormShow(form, SettingsPlaces{dir.path, ""});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(form.statuses,
              (std::vector<std::string>{"Read failed ! Can't See FTDI IC", "USB Serial Number Open failed !"}));
    EXPECT_EQ(DeviceHandle, nullptr);
    EXPECT_EQ(err, "h8sxwriter: " + dir.Sub("ttyNothing") + ": " + std::strerror(ENOENT) + "\n")
        << "the path and the reason, once, on standard error";
    SetLinkProvider(nullptr);
}
