#include "sim/SimOptions.h"

#include "protocol/Protocol.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

namespace {

// A whole decimal number without sign, within [0, max].
bool ParseCount(const std::string& text, uint64_t max, uint64_t* out) {
    if (text.empty() || text.size() > 19) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > max) return false;
    *out = v;
    return true;
}

// A duration: a number with the unit us, ms or s; a bare number is in ms.
// At most one hour.
bool ParseDuration(const std::string& text, int64_t* micros) {
    std::string digits = text;
    uint64_t scale = 1000;
    auto endsWith = [&](const char* unit) {
        std::string u(unit);
        return digits.size() > u.size() && digits.compare(digits.size() - u.size(), u.size(), u) == 0;
    };
    if (endsWith("us")) {
        scale = 1;
        digits.resize(digits.size() - 2);
    } else if (endsWith("ms")) {
        scale = 1000;
        digits.resize(digits.size() - 2);
    } else if (endsWith("s")) {
        scale = 1000000;
        digits.resize(digits.size() - 1);
    }
    uint64_t v = 0;
    const uint64_t hour = 3600ull * 1000000ull;
    if (!ParseCount(digits, hour, &v) || v * scale > hour) return false;
    *micros = static_cast<int64_t>(v * scale);
    return true;
}

// A byte count with an optional K (KiB) or M (MiB) suffix.
bool ParseSize(const std::string& text, uint64_t* out) {
    std::string digits = text;
    uint64_t scale = 1;
    if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'k')) {
        scale = 1024;
        digits.pop_back();
    } else if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm')) {
        scale = 1024 * 1024;
        digits.pop_back();
    }
    uint64_t v = 0;
    if (!ParseCount(digits, 1ull << 32, &v)) return false;
    *out = v * scale;
    return true;
}

// Hex digits only, at most `digits` of them.
bool ParseHex(const std::string& text, size_t digits, uint64_t* out) {
    if (text.empty() || text.size() > digits) return false;
    uint64_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + static_cast<uint64_t>(d);
    }
    *out = v;
    return true;
}

bool ParseFlag(const std::string& text, bool hasValue, bool* out) {
    if (!hasValue || text == "1" || text == "yes" || text == "true" || text == "on") {
        *out = true;
        return true;
    }
    if (text == "0" || text == "no" || text == "false" || text == "off") {
        *out = false;
        return true;
    }
    return false;
}

// A command byte in hex (0x3F or 3F), or "end" for the end command.
bool ParseCommand(std::string text, int* out) {
    if (text == "end") {
        *out = kSimEndCommand;
        return true;
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    uint64_t v = 0;
    if (!ParseHex(text, 2, &v)) return false;
    *out = static_cast<int>(v);
    return true;
}

// The commands the boot program answers after the bit-rate adjustment.
bool IsBootCommand(int c) {
    using namespace proto;
    switch (c) {
    case kDeviceInquiry:
    case kDeviceSelect:
    case kClockModeInquiry:
    case kClockModeSelect:
    case kRatioInquiry:
    case kFrequencyInquiry:
    case kNewBitRate:
    case kBitRateConfirm:
    case kEnterProgramming:
    case kUserMatSelect:
    case kProgram:
    case kSimEndCommand:
    case kMemoryRead:
    case kUserSumCheck:
    case kUserBlankCheck:
    case kUserAreaInquiry: return true;
    default: return false;
    }
}

}  // namespace

std::string DefaultSimFlashPath() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    // A relative XDG_CACHE_HOME is not a valid one: the flash would move with
    // the working directory.
    std::string base =
        cache && cache[0] == '/' ? std::string(cache) : std::string(home && *home ? home : ".") + "/.cache";
    return base + "/h8sxwriter/simflash.bin";
}

bool ParseSimOptions(const std::string& text, SimOptions* out, std::string* error) {
    *out = SimOptions{};
    out->flashPath = DefaultSimFlashPath();

    using Setter = std::function<bool(const std::string& value, bool hasValue, std::string* why)>;
    SimOptions& o = *out;
    const std::map<std::string, Setter> keys = {
        {"flash",
         [&](const std::string& v, bool, std::string*) {
             o.flashPath = v == "none" ? std::string() : v;
             return true;
         }},
        {"flash-size",
         [&](const std::string& v, bool, std::string* why) {
             uint64_t n = 0;
             if (!ParseSize(v, &n) || n == 0 || n % proto::kBlockSize != 0 || n > (16u << 20)) {
                 *why = "a multiple of 128 bytes up to 16M, such as 1M or 512K";
                 return false;
             }
             o.flashSize = static_cast<uint32_t>(n);
             return true;
         }},
        {"startup-time",
         [&](const std::string& v, bool, std::string* why) {
             *why = "a duration such as 5ms, 200us or 1s";
             return ParseDuration(v, &o.startupMicros);
         }},
        {"banner-delay",
         [&](const std::string& v, bool, std::string* why) {
             *why = "a duration such as 250ms or 0";
             return ParseDuration(v, &o.bannerDelayMicros);
         }},
        {"erase-time",
         [&](const std::string& v, bool, std::string* why) {
             *why = "a duration such as 500ms or 20s";
             return ParseDuration(v, &o.eraseMicros);
         }},
        {"program-time",
         [&](const std::string& v, bool, std::string* why) {
             *why = "a duration such as 0, 300us or 2ms";
             return ParseDuration(v, &o.programMicros);
         }},
        {"latency",
         [&](const std::string& v, bool, std::string* why) {
             *why = "a duration such as 1ms, 16ms or 0";
             return ParseDuration(v, &o.latencyMicros);
         }},
        {"clock",
         [&](const std::string& v, bool, std::string* why) {
             *why = "a frequency in MHz from 1 to 100 with up to two decimals, such as 12.5";
             const size_t dot = v.find('.');
             const std::string whole = v.substr(0, dot);
             std::string fraction = dot == std::string::npos ? std::string() : v.substr(dot + 1);
             if (fraction.size() > 2 || (dot != std::string::npos && fraction.empty())) return false;
             fraction.resize(2, '0');
             uint64_t mhz = 0, hundredths = 0;
             if (!ParseCount(whole, 100, &mhz) || !ParseCount(fraction, 99, &hundredths)) return false;
             const uint64_t units = mhz * 100 + hundredths;
             if (units < 100 || units > 10000) return false;
             o.crystalUnits = static_cast<uint32_t>(units);
             return true;
         }},
        {"max-rate",
         [&](const std::string& v, bool, std::string* why) {
             uint64_t n = 0;
             *why = "a bit rate in bit/s, such as 115200";
             if (!ParseCount(v, 100000000, &n) || n == 0) return false;
             o.maxRate = static_cast<uint32_t>(n);
             return true;
         }},
        {"sync-zeros",
         [&](const std::string& v, bool, std::string* why) {
             uint64_t n = 0;
             *why = "a count from 1 to 255";
             if (!ParseCount(v, 255, &n) || n == 0) return false;
             o.syncZeros = static_cast<int>(n);
             return true;
         }},
        {"product",
         [&](const std::string& v, bool, std::string* why) {
             *why = "1 to 64 printable characters";
             if (v.empty() || v.size() > 64) return false;
             for (char c : v)
                 if (c < 0x20 || c > 0x7E) return false;
             o.productName = v;
             return true;
         }},
        {"silent",
         [&](const std::string& v, bool has, std::string* why) {
             *why = "nothing, or 1/0";
             return ParseFlag(v, has, &o.silent);
         }},
        {"no-e6",
         [&](const std::string& v, bool has, std::string* why) {
             *why = "nothing, or 1/0";
             return ParseFlag(v, has, &o.noE6);
         }},
        {"error",
         [&](const std::string& v, bool, std::string* why) {
             *why = "a command in hex (20 21 22 23 10 11 3F 06 40 43 50 52 4B 4D 25) or end, optionally :CODE in hex";
             std::string cmd = v, code;
             size_t colon = v.find(':');
             if (colon != std::string::npos) {
                 cmd = v.substr(0, colon);
                 code = v.substr(colon + 1);
             }
             int c = 0, k = -1;
             if (!ParseCommand(cmd, &c) || !IsBootCommand(c)) return false;
             if (colon != std::string::npos && (!ParseCommand(code, &k) || k == kSimEndCommand)) return false;
             o.errorCommand = c;
             o.errorCode = k;
             return true;
         }},
        {"garble",
         [&](const std::string& v, bool, std::string* why) {
             *why = "a command in hex (00 55 20 21 22 23 10 11 3F 06 40 43 50 52 4B 4D 25) or end";
             int c = 0;
             if (!ParseCommand(v, &c) || !(IsBootCommand(c) || c == proto::kSyncByte || c == proto::kSyncConfirm))
                 return false;
             o.garbleCommand = c;
             return true;
         }},
        {"no-reply-block",
         [&](const std::string& v, bool, std::string* why) {
             uint64_t n = 0;
             *why = "a block number from 1 (the first block)";
             if (!ParseCount(v, 1u << 24, &n) || n == 0) return false;
             o.noReplyBlock = static_cast<uint32_t>(n);
             return true;
         }},
        {"corrupt",
         [&](const std::string& v, bool, std::string* why) {
             *why = "an address (decimal, or hex with 0x) inside the flash, optionally :VALUE in hex";
             std::string addr = v, value;
             const size_t colon = v.find(':');
             if (colon != std::string::npos) {
                 addr = v.substr(0, colon);
                 value = v.substr(colon + 1);
             }
             uint64_t a = 0;
             if (addr.size() > 2 && addr[0] == '0' && (addr[1] == 'x' || addr[1] == 'X')) {
                 if (!ParseHex(addr.substr(2), 8, &a)) return false;
             } else if (!ParseCount(addr, 0xFFFFFFFFu, &a)) {
                 return false;
             }
             int k = -1;
             if (colon != std::string::npos && (!ParseCommand(value, &k) || k == kSimEndCommand)) return false;
             o.corruptAddress = static_cast<int64_t>(a);
             o.corruptValue = k;
             return true;
         }},
        {"unplug-after",
         [&](const std::string& v, bool, std::string* why) {
             uint64_t n = 0;
             *why = "a count of driver calls";
             if (!ParseCount(v, 1ull << 40, &n)) return false;
             o.unplugAfter = static_cast<int64_t>(n);
             return true;
         }},
    };

    size_t pos = 0;
    while (pos <= text.size() && !text.empty()) {
        size_t comma = text.find(',', pos);
        std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
        if (item.empty()) {
            *error = "simulated board: empty option in \"" + text + "\"";
            return false;
        }
        size_t eq = item.find('=');
        const bool hasValue = eq != std::string::npos;
        std::string key = item.substr(0, eq);
        std::string value = hasValue ? item.substr(eq + 1) : std::string();
        auto it = keys.find(key);
        if (it == keys.end()) {
            *error = "simulated board: unknown option \"" + key + "\"";
            return false;
        }
        const bool flagKey = key == "silent" || key == "no-e6";
        if (!hasValue && !flagKey) {
            *error = "simulated board: option \"" + key + "\" needs a value";
            return false;
        }
        std::string why;
        if (!it->second(value, hasValue, &why)) {
            *error = "simulated board: bad value \"" + value + "\" for " + key + " (expected " + why + ")";
            return false;
        }
    }
    if (out->corruptAddress >= static_cast<int64_t>(out->flashSize)) {
        *error = "simulated board: corrupt address " + std::to_string(out->corruptAddress) +
                 " lies outside the flash of " + std::to_string(out->flashSize) + " bytes";
        return false;
    }
    return true;
}
