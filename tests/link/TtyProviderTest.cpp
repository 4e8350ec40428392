#include "link/Driver.h"
#include "link/Sysfs.h"
#include "link/TtyDevice.h"
#include "link/TtyProvider.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
    fs.AddTty(3, "0403", "");          // no serial file: listed by its name
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
    struct Case { std::string path; std::string serial; };
    for (const Case& c : {Case{fs.dev + "/ttyUSB4", "FT9Z8Y7X"}, Case{fs.dev + "/by-id-link", "FT9Z8Y7X"},
                          Case{fs.dev + "/ttyUSB5", "ttyUSB5"}, Case{"/dev/pts/3", "pts3"},
                          Case{"/dev/ttyS0", "ttyS0"}}) {
        EXPECT_EQ(PortSerialNumber(c.path, fs.sys), c.serial) << c.path;
    }
    EXPECT_TRUE(MakeTtyPortProvider(fs.dir.Sub("absent"), fs.sys)->List().empty());
}

}  // namespace
