#include "link/Sysfs.h"

#include <dirent.h>
#include <sys/stat.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace {

// The first line of a small sysfs attribute file, without its line end;
// empty if it cannot be read.
std::string ReadAttribute(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::string();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "ttyUSB12" -> 12; -1 for anything else.
int TtyUsbNumber(const std::string& name) {
    static const std::string prefix = "ttyUSB";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
    int n = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// Walks up from the tty's device directory to the USB device (the first
// directory holding idVendor), staying inside sysRoot. Empty if none.
std::string UsbDeviceOfTty(const std::string& name, const std::string& sysRoot) {
    const std::string root = RealPath(sysRoot);
    std::string dir = RealPath(sysRoot + "/class/tty/" + name + "/device");
    if (root.empty() || dir.empty()) return std::string();
    while (dir.size() > root.size() && dir.compare(0, root.size(), root) == 0) {
        if (IsFile(dir + "/idVendor")) return dir;
        dir.erase(dir.find_last_of('/'));
    }
    return std::string();
}

// The USB device of the tty when FTDI made it; empty otherwise.
std::string FtdiUsbDeviceOfTty(const std::string& name, const std::string& sysRoot) {
    const std::string usb = UsbDeviceOfTty(name, sysRoot);
    if (usb.empty() || ReadAttribute(usb + "/idVendor") != kFtdiVendorId) return std::string();
    return usb;
}

}  // namespace

std::string RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return std::string();
    std::string out(resolved);
    std::free(resolved);
    return out;
}

std::string FtdiSerialOfTty(const std::string& name, const std::string& sysRoot) {
    const std::string usb = FtdiUsbDeviceOfTty(name, sysRoot);
    return usb.empty() ? std::string() : ReadAttribute(usb + "/serial");
}

std::vector<FtdiTty> ListFtdiTtys(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<FtdiTty> found;
    DIR* d = opendir((sysRoot + "/class/tty").c_str());
    if (!d) return found;
    while (struct dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        const int number = TtyUsbNumber(name);
        if (number < 0) continue;
        const std::string usb = FtdiUsbDeviceOfTty(name, sysRoot);
        if (usb.empty()) continue;
        FtdiTty tty;
        tty.number = number;
        tty.name = name;
        tty.path = devRoot + "/" + name;
        tty.serial = ReadAttribute(usb + "/serial");
        if (tty.serial.empty()) tty.serial = name;
        found.push_back(tty);
    }
    closedir(d);
    std::sort(found.begin(), found.end(), [](const FtdiTty& a, const FtdiTty& b) { return a.number < b.number; });
    return found;
}
