// Finding FTDI USB serial converters through sysfs.
//
// The kernel's ftdi_sio driver gives every converter a tty named ttyUSB<n>.
// /sys/class/tty/ttyUSB<n>/device links into the USB device tree; walking up
// from its real path, the first directory that holds an idVendor file is the
// USB device, whose idVendor says who made it (0403 is FTDI) and whose serial
// file holds the converter's serial number.
//
// Contract
// - sysRoot is "/sys" in the program; tests pass a fake tree in a temporary
//   directory. devRoot is where the device nodes live ("/dev").
// - ListFtdiTtys returns every ttyUSB whose USB device has idVendor 0403,
//   ordered by tty number (ttyUSB2 before ttyUSB10). A converter without a
//   serial file is listed under its tty name ("ttyUSB0").
// - Nothing here opens a device or fails loudly: an unreadable tree gives an
//   empty list.
#pragma once

#include <string>
#include <vector>

struct FtdiTty {
    int number = -1;     // n of ttyUSB<n>
    std::string name;    // "ttyUSB<n>"
    std::string path;    // devRoot + "/ttyUSB<n>"
    std::string serial;  // the USB serial number
};

constexpr const char* kFtdiVendorId = "0403";

std::vector<FtdiTty> ListFtdiTtys(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");

// The absolute path with every symbolic link resolved; empty when it cannot
// be resolved (it does not exist, for instance).
std::string RealPath(const std::string& path);

// The FTDI serial number of the tty called `name` ("ttyUSB0"); empty when it
// is not an FTDI converter's tty or has no serial file.
std::string FtdiSerialOfTty(const std::string& name, const std::string& sysRoot = "/sys");
