#include "link/TtyProvider.h"

#include "link/Driver.h"
#include "link/Sysfs.h"
#include "link/TtyDevice.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <sys/stat.h>

namespace {

bool SerialMatches(const std::string& listed, const std::string& wanted) {
    return !wanted.empty() && listed.compare(0, wanted.size(), wanted) == 0;
}

std::string Resolve(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return path;
    std::string out(resolved);
    std::free(resolved);
    return out;
}

// Lists through a function and opens the listed paths, keeping each opened
// device for the provider's lifetime.
class TtyProvider : public LinkProvider {
public:
    explicit TtyProvider(std::function<std::vector<Entry>()> lister) : lister_(std::move(lister)) {}

    std::vector<Entry> List() override { return lister_(); }

    uint32_t Open(const std::string& serial, LinkDevice** device) override {
        for (const Entry& e : lister_()) {
            if (!SerialMatches(e.serial, serial)) continue;
            auto known = opened_.find(e.path);
            if (known != opened_.end() && !known->second->Dead()) {
                *device = known->second.get();
                return LINK_OK;
            }
            std::unique_ptr<TtyDevice> tty;
            const uint32_t status = TtyDevice::Open(e.path, &tty);
            if (status != LINK_OK) return status;
            *device = tty.get();
            // A dead device replaced here may still be referenced by a
            // caller's handle; keep it alive until the provider goes.
            if (known != opened_.end()) retired_.push_back(std::move(known->second));
            opened_[e.path] = std::move(tty);
            return LINK_OK;
        }
        return LINK_DEVICE_NOT_FOUND;
    }

private:
    std::function<std::vector<Entry>()> lister_;
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
    return std::make_unique<TtyProvider>([sysRoot, devRoot] {
        std::vector<LinkProvider::Entry> entries;
        for (const FtdiTty& t : ListFtdiTtys(sysRoot, devRoot)) entries.push_back({t.serial, t.path});
        return entries;
    });
}

std::unique_ptr<LinkProvider> MakeTtyPortProvider(const std::string& path, const std::string& sysRoot) {
    return std::make_unique<TtyProvider>([path, sysRoot] {
        std::vector<LinkProvider::Entry> entries;
        struct stat st;
        if (stat(path.c_str(), &st) == 0) entries.push_back({PortSerialNumber(path, sysRoot), path});
        return entries;
    });
}

std::unique_ptr<LinkProvider> MakeTtyProvider() { return MakeTtyProvider("/sys", "/dev"); }
std::unique_ptr<LinkProvider> MakeTtyPortProvider(const std::string& path) { return MakeTtyPortProvider(path, "/sys"); }
