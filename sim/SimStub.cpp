// Placeholder until the board model lands: lists the converter, opens nothing.
#include "sim/SimProvider.h"

#include <cstdlib>

bool ParseSimOptions(const std::string& text, SimOptions* out, std::string* error) {
    *out = SimOptions{};
    if (!text.empty()) {
        *error = "unknown simulated-board option: " + text;
        return false;
    }
    return true;
}

std::string DefaultSimFlashPath() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    std::string base = cache && *cache ? cache : std::string(std::getenv("HOME") ? std::getenv("HOME") : ".") + "/.cache";
    return base + "/h8sxwriter/simflash.bin";
}

struct SimProvider::Impl {};
SimProvider::SimProvider(const SimOptions&, Clock&, bool) : impl_(new Impl) {}
SimProvider::~SimProvider() = default;
std::vector<LinkProvider::Entry> SimProvider::List() { return {{kSimSerialNumber, "sim"}}; }
uint32_t SimProvider::Open(const std::string&, LinkDevice**) { return 2; }
SimBoard& SimProvider::Board() { std::abort(); }
