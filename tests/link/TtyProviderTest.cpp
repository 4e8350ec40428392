#include "link/Driver.h"
#include "link/Sysfs.h"
#include "link/TtyDevice.h"
#include "link/TtyProvider.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

// A sysfs tree as the kernel lays it out for USB serial converters:
//   devices/usb1/1-<n>/{idVendor,serial}           the USB device
//   devices/usb1/1-<n>/1-<n>:1.0/ttyUSB<n>/        the converter's port
//   class/tty/ttyUSB<n>/device -> that port
// plus a devRoot whose ttyUSB<n> entries can point at pseudo-terminals.
struct FakeSysfs {
    TempDir dir;
    std::string sys = dir.MakeDir("sys");
    std::string dev = dir.MakeDir("dev");

    void AddTty(int n, const std::string& vendor, const std::string& serial) {
        const std::string usb = "sys/devices/usb1/1-" + std::to_string(n);
        const std::string port = usb + "/1-" + std::to_string(n) + ":1.0/ttyUSB" + std::to_string(n);
        dir.MakeDir(port);
        dir.Write(usb + "/idVendor", vendor + "\n");
        if (!serial.empty()) dir.Write(usb + "/serial", serial + "\n");
        const std::string cls = dir.MakeDir("sys/class/tty/ttyUSB" + std::to_string(n));
        symlink(dir.Sub(port).c_str(), (cls + "/device").c_str());
    }
    void AddOther(const std::string& name) { dir.MakeDir("sys/class/tty/" + name); }
    void PointDevAt(int n, const std::string& target) {
        symlink(target.c_str(), (dev + "/ttyUSB" + std::to_string(n)).c_str());
    }
};

TEST(Sysfs, ListsFtdiConvertersInTtyNumberOrder) {
    FakeSysfs fs;
    fs.AddTty(10, "0403", "FTTEN");
    fs.AddTty(2, "0403", "FTTWO");
    fs.AddTty(1, "067b", "PROLIFIC");  // another maker: not listed
    fs.AddTty(0, "0403", "FTZERO");
    fs.AddTty(3, "0403", "");  // no serial file: listed by its name
    fs.AddOther("ttyS0");
    fs.AddOther("ttyUSBx");

    const std::vector<FtdiTty> found = ListFtdiTtys(fs.sys, fs.dev);
    std::vector<std::string> seen;
    for (const FtdiTty& t : found) seen.push_back(t.name + "=" + t.serial + "@" + t.path);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "ttyUSB0=FTZERO@" + fs.dev + "/ttyUSB0", "ttyUSB2=FTTWO@" + fs.dev + "/ttyUSB2",
                        "ttyUSB3=ttyUSB3@" + fs.dev + "/ttyUSB3", "ttyUSB10=FTTEN@" + fs.dev + "/ttyUSB10"}));
    EXPECT_EQ(FtdiSerialOfTty("ttyUSB2", fs.sys), "FTTWO");
    EXPECT_EQ(FtdiSerialOfTty("ttyUSB1", fs.sys), "");
    EXPECT_TRUE(ListFtdiTtys(fs.dir.Sub("nothing"), fs.dev).empty());
}

TEST(TtyProvider, OpensTheFirstConverterWhoseNumberMatches) {
    FakeSysfs fs;
    PtyPair second, third;
    fs.AddTty(0, "0403", "FTAA0001");
    fs.AddTty(1, "0403", "FTBB0001X");
    fs.AddTty(2, "0403", "FTBB0001");
    fs.PointDevAt(1, second.slavePath);
    fs.PointDevAt(2, third.slavePath);
    std::unique_ptr<LinkProvider> p = MakeTtyProvider(fs.sys, fs.dev);

    ASSERT_EQ(p->List().size(), 3u);
    EXPECT_EQ(p->List()[0].serial, "FTAA0001");

    // "FTBB0001" equals the third and begins the second: the first in order wins.
    LinkDevice* d = nullptr;
    ASSERT_EQ(p->Open("FTBB0001", &d), 0u);
    const uint8_t b = 0x42;
    uint32_t n = 0;
    EXPECT_EQ(d->WriteBytes(&b, 1, &n), 0u);
    EXPECT_EQ(second.Receive(1), std::vector<uint8_t>{0x42});
    EXPECT_TRUE(third.Receive(1, 20).empty());

    LinkDevice* again = nullptr;
    EXPECT_EQ(p->Open("FTBB", &again), 0u);
    EXPECT_EQ(again, d) << "an opened converter is not opened twice";

    LinkDevice* none = nullptr;
    EXPECT_EQ(p->Open("FTCC", &none), static_cast<uint32_t>(LINK_DEVICE_NOT_FOUND));
    EXPECT_EQ(p->Open("", &none), static_cast<uint32_t>(LINK_DEVICE_NOT_FOUND));
    EXPECT_NE(p->Open("FTAA0001", &none), 0u) << "listed, but its device node is missing";
    EXPECT_EQ(none, nullptr);
}

TEST(TtyPortProvider, ListsOnlyTheNamedPortAndOpensIt) {
    PtyPair pty;
    std::unique_ptr<LinkProvider> p = MakeTtyPortProvider(pty.slavePath);
    const auto listed = p->List();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, pty.slavePath);
    const std::string serial = listed[0].serial;
    EXPECT_EQ(serial.compare(0, 3, "pts"), 0) << serial;

    LinkDevice* d = nullptr;
    ASSERT_EQ(p->Open(serial.substr(0, 8), &d), 0u);
    pty.Send({0x06});
    ASSERT_TRUE(Readable(d->EventFd(), 1000));
    EXPECT_EQ(p->Open("other", &d), static_cast<uint32_t>(LINK_DEVICE_NOT_FOUND));
}

TEST(TtyPortProvider, SerialNumberOfAPath) {
    FakeSysfs fs;
    fs.AddTty(4, "0403", "FT9Z8Y7X");
    fs.AddTty(5, "067b", "OTHER");
    fs.dir.Write("dev/ttyUSB4", "");
    fs.dir.Write("dev/ttyUSB5", "");
    symlink((fs.dev + "/ttyUSB4").c_str(), (fs.dev + "/by-id-link").c_str());
    struct Case {
        std::string path;
        std::string serial;
    };
    for (const Case& c :
         {Case{fs.dev + "/ttyUSB4", "FT9Z8Y7X"}, Case{fs.dev + "/by-id-link", "FT9Z8Y7X"},
          Case{fs.dev + "/ttyUSB5", "ttyUSB5"}, Case{"/dev/pts/3", "pts3"}, Case{"/dev/ttyS0", "ttyS0"}}) {
        EXPECT_EQ(PortSerialNumber(c.path, fs.sys), c.serial) << c.path;
    }
    EXPECT_TRUE(MakeTtyPortProvider(fs.dir.Sub("absent"), fs.sys)->List().empty());
}

// What is not there or not a serial port is not listed, the open fails, and
// both say why; the driver layer keeps the reason in LastReason.
TEST(TtyPortProvider, SaysWhyAPortIsNotListedOrOpened) {
    TempDir dir;
    dir.Write("image.mot", "S9030000FC\n");
    struct Case {
        std::string path;
        std::string reason;
    };
    const Case cases[] = {
        {dir.Sub("ttyUSB7"), dir.Sub("ttyUSB7") + ": " + std::strerror(ENOENT)},
        {dir.Sub("image.mot"), dir.Sub("image.mot") + ": not a serial port (a regular file)"},
        {dir.path, dir.path + ": not a serial port (a directory)"},
        {"/dev/null", "/dev/null: not a serial port (a character device of class mem)"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<LinkProvider> p = MakeTtyPortProvider(c.path);
        EXPECT_TRUE(p->List().empty()) << c.path;
        EXPECT_EQ(p->Reason(), c.reason);
        LinkDevice* d = nullptr;
        EXPECT_NE(p->Open("x", &d), 0u);
        EXPECT_EQ(p->Reason(), c.reason);

        SetLinkProvider(std::move(p));
        char serial[SERIAL_NUMBER_SIZE] = {};
        EXPECT_NE(ListSerialNumber(0, serial, LIST_BY_INDEX_SERIAL), 0u);
        EXPECT_EQ(LastReason, c.reason);
        LinkHandle h = nullptr;
        EXPECT_NE(OpenBySerialNumber(serial, OPEN_BY_SERIAL_NUMBER, &h), 0u);
        EXPECT_EQ(LastReason, c.reason);
    }
    PtyPair pty;
    SetLinkProvider(MakeTtyPortProvider(pty.slavePath));
    LinkHandle h = nullptr;
    EXPECT_EQ(OpenBySerialNumber("pts", OPEN_BY_SERIAL_NUMBER, &h), 0u);
    EXPECT_EQ(LastReason, "") << "a success leaves no reason behind";
    SetLinkProvider(nullptr);
}

// A port the user may not open: the open runs in a child that, when the tests
// run as root (who passes every file mode), first becomes the unprivileged
// user nobody. The reason is the operating system's own, with the remedy.
TEST(TtyPortProvider, APortTheUserMayNotOpenSaysPermissionAndTheRemedy) {
    PtyPair pty;
    ASSERT_EQ(chmod(pty.slavePath.c_str(), 0), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(out[0]);
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
        std::unique_ptr<LinkProvider> p = MakeTtyPortProvider(pty.slavePath);
        LinkDevice* d = nullptr;
        const uint32_t status = p->Open(p->List().empty() ? "" : p->List()[0].serial, &d);
        const std::string reason = p->Reason();
        ssize_t n = write(out[1], reason.data(), reason.size());
        (void)n;
        _exit(static_cast<int>(status));
    }
    close(out[1]);
    std::string reason;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) reason.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 100) << "could not drop to an unprivileged user";
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(LINK_DEVICE_NOT_OPENED));

    struct stat st;
    ASSERT_EQ(stat(pty.slavePath.c_str(), &st), 0);
    const struct group* g = getgrgid(st.st_gid);
    const std::string group = st.st_gid != 0 && g ? g->gr_name : "dialout";
    EXPECT_EQ(reason, pty.slavePath + ": " + std::strerror(EACCES) + "; add yourself to the group " + group +
                          " (sudo usermod -aG " + group +
                          " \"$USER\", then log in again) or give the converter to your user with the udev rule in "
                          "the README");
}

TEST(TtyProvider, SaysWhenNoConverterIsThere) {
    FakeSysfs fs;
    fs.AddTty(0, "067b", "PROLIFIC");
    std::unique_ptr<LinkProvider> p = MakeTtyProvider(fs.sys, fs.dev);
    EXPECT_TRUE(p->List().empty());
    const std::string reason =
        "no FTDI converter found: no ttyUSB of USB vendor 0403 in " + fs.sys + "/class/tty (see dmesg)";
    EXPECT_EQ(p->Reason(), reason);
    LinkDevice* d = nullptr;
    EXPECT_NE(p->Open("", &d), 0u);
    EXPECT_EQ(p->Reason(), reason);
}

}  // namespace
