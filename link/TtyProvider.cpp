#include "link/TtyProvider.h"

#include "link/Driver.h"
#include "link/OsStatus.h"
#include "link/Sysfs.h"
#include "link/TtyDevice.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <cerrno>
#include <functional>
#include <map>

namespace {

bool SerialMatches(const std::string& listed, const std::string& wanted) {
    return !wanted.empty() && listed.compare(0, wanted.size(), wanted) == 0;
}

// The path with its links resolved, or the path itself when it cannot be.
std::string Resolve(const std::string& path) {
    std::string real = RealPath(path);
    return real.empty() ? path : real;
}

// Whether what `st` describes can be a serial port, judged without opening
// it (opening a tty raises DTR, which restarts the target). Anything but a
// character device is not; a character device is not when sysfs files it
// under a class other than tty (/dev/null is of class mem). Character devices
// that sysfs does not know, such as pseudo-terminal slaves, are left to the
// open. When it is not, *what says what it is instead.
bool MayBeSerialPort(const struct stat& st, const std::string& sysRoot, std::string* what) {
    if (S_ISREG(st.st_mode))
        *what = "a regular file";
    else if (S_ISDIR(st.st_mode))
        *what = "a directory";
    else if (S_ISBLK(st.st_mode))
        *what = "a block device";
    else if (S_ISFIFO(st.st_mode))
        *what = "a pipe";
    else if (S_ISSOCK(st.st_mode))
        *what = "a socket";
    if (!S_ISCHR(st.st_mode)) return false;
    const std::string link = sysRoot + "/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                             std::to_string(minor(st.st_rdev)) + "/subsystem";
    const std::string subsystem = Resolve(link);
    if (subsystem == link) return true;  // not known to sysfs
    const std::string name = subsystem.substr(subsystem.find_last_of('/') + 1);
    if (name == "tty") return true;
    *what = "a character device of class " + name;
    return false;
}

// Lists the entries and, when there are none, says why in *reason.
using Lister = std::function<std::vector<LinkProvider::Entry>(std::string* reason)>;

// Lists through a function and opens the listed paths, keeping each opened
// device for the provider's lifetime.
class TtyProvider : public LinkProvider {
public:
    explicit TtyProvider(Lister lister) : lister_(std::move(lister)) {}

    std::vector<Entry> List() override {
        reason_.clear();
        return lister_(&reason_);
    }

    uint32_t Open(const std::string& serial, LinkDevice** device) override {
        reason_.clear();
        std::string listReason;
        const std::vector<Entry> entries = lister_(&listReason);
        for (const Entry& e : entries) {
            if (!SerialMatches(e.serial, serial)) continue;
            auto known = opened_.find(e.path);
            if (known != opened_.end() && !known->second->Dead()) {
                *device = known->second.get();
                return LINK_OK;
            }
            std::unique_ptr<TtyDevice> tty;
            const uint32_t status = TtyDevice::Open(e.path, &tty, &reason_);
            if (status != LINK_OK) return status;
            *device = tty.get();
            // A dead device replaced here may still be referenced by a
            // caller's handle; keep it alive until the provider goes.
            if (known != opened_.end()) retired_.push_back(std::move(known->second));
            opened_[e.path] = std::move(tty);
            return LINK_OK;
        }
        if (entries.empty())
            reason_ = listReason;
        else if (!serial.empty())
            reason_ = "no converter has the serial number " + serial;
        return LINK_DEVICE_NOT_FOUND;
    }

    std::string Reason() const override { return reason_; }

private:
    Lister lister_;
    std::string reason_;
    std::map<std::string, std::unique_ptr<TtyDevice>> opened_;
    std::vector<std::unique_ptr<TtyDevice>> retired_;
};

}  // namespace

std::string PortSerialNumber(const std::string& path, const std::string& sysRoot) {
    const std::string real = Resolve(path);
    const std::string name = real.substr(real.find_last_of('/') + 1);
    const std::string usbSerial = FtdiSerialOfTty(name, sysRoot);
    if (name.compare(0, 6, "ttyUSB") == 0 && !usbSerial.empty()) return usbSerial;
    if (real.compare(0, 5, "/dev/") == 0) {
        std::string out;
        for (char c : real.substr(5))
            if (c != '/') out += c;
        return out;
    }
    return name;
}

std::unique_ptr<LinkProvider> MakeTtyProvider(const std::string& sysRoot, const std::string& devRoot) {
    return std::make_unique<TtyProvider>([sysRoot, devRoot](std::string* reason) {
        std::vector<LinkProvider::Entry> entries;
        for (const FtdiTty& t : ListFtdiTtys(sysRoot, devRoot)) entries.push_back({t.serial, t.path});
        if (entries.empty())
            *reason = "no FTDI converter found: no ttyUSB of USB vendor " + std::string(kFtdiVendorId) + " in " +
                      sysRoot + "/class/tty (see dmesg)";
        return entries;
    });
}

std::unique_ptr<LinkProvider> MakeTtyPortProvider(const std::string& path, const std::string& sysRoot) {
    return std::make_unique<TtyProvider>([path, sysRoot](std::string* reason) {
        std::vector<LinkProvider::Entry> entries;
        struct stat st;
        std::string what;
        if (stat(path.c_str(), &st) != 0)
            *reason = OsReason(path, errno);
        else if (!MayBeSerialPort(st, sysRoot, &what))
            *reason = path + ": not a serial port (" + what + ")";
        else
            entries.push_back({PortSerialNumber(path, sysRoot), path});
        return entries;
    });
}

std::unique_ptr<LinkProvider> MakeTtyProvider() { return MakeTtyProvider("/sys", "/dev"); }
std::unique_ptr<LinkProvider> MakeTtyPortProvider(const std::string& path) { return MakeTtyPortProvider(path, "/sys"); }
