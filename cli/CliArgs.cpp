#include "cli/CliArgs.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct CommandEntry {
    const char* name;
    CliCommand command;
};
constexpr CommandEntry kCommands[] = {
    {"write", CliCommand::Write}, {"monitor", CliCommand::Monitor}, {"reset", CliCommand::Reset},
    {"list", CliCommand::List},   {"sim", CliCommand::Sim},         {"rates", CliCommand::Rates},
    {"erase", CliCommand::Erase},
};

CliCommand FindCommand(const std::string& word) {
    for (const CommandEntry& e : kCommands)
        if (word == e.name) return e.command;
    return CliCommand::None;
}

// Splits "--name=value" into name and value; `hasValue` tells whether an '='
// was there.
void SplitOption(const std::string& arg, std::string* name, std::string* value, bool* hasValue) {
    size_t eq = arg.find('=');
    *hasValue = eq != std::string::npos;
    *name = *hasValue ? arg.substr(0, eq) : arg;
    *value = *hasValue ? arg.substr(eq + 1) : std::string();
}

bool ParseSeconds(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0) return false;
    *out = v;
    return true;
}

// A bit rate in bit/s: digits only, at most 10,000,000.
bool ParseRate(const std::string& text, uint32_t* out) {
    if (text.empty() || text.size() > 8 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v == 0 || v > 10000000ul) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// A flash address: decimal, or hex after 0x.
bool ParseAddress(const std::string& text, uint32_t* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v =
        std::strtoull(text.c_str(), &end, text.size() > 1 && (text[1] == 'x' || text[1] == 'X') ? 16 : 10);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// A clock in MHz with at most two decimals, in units of 0.01 MHz.
bool ParseClock(const std::string& text, uint16_t* out) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    const size_t dot = text.find('.');
    if (dot != std::string::npos && (text.find('.', dot + 1) != std::string::npos || text.size() - dot - 1 > 2))
        return false;
    if (dot == 0 || text.size() > 9) return false;
    const double v = std::strtod(text.c_str(), nullptr);
    const long units = std::lround(v * 100);
    if (units <= 0 || units > 65535) return false;
    *out = static_cast<uint16_t>(units);
    return true;
}

// Which options a command accepts, beyond --help.
struct Accepts {
    bool link, linkPort, verbose, reset, seconds, pty, rate, clock, verify;
};
Accepts AcceptsOf(CliCommand c) {
    switch (c) {
    case CliCommand::Write: return {true, true, true, false, false, false, true, true, true};
    case CliCommand::Erase: return {true, true, true, false, false, false, false, false, false};
    case CliCommand::Monitor: return {true, true, false, true, true, false, false, false, false};
    case CliCommand::Reset:
    case CliCommand::List: return {true, true, false, false, false, false, false, false, false};
    case CliCommand::Sim: return {true, false, false, false, false, true, false, false, false};
    case CliCommand::Rates: return {false, false, false, false, false, false, false, true, false};
    case CliCommand::None: break;
    }
    return {true, true, false, false, false, false, false, false, false};
}

}  // namespace

const char* CommandName(CliCommand command) {
    for (const CommandEntry& e : kCommands)
        if (e.command == command) return e.name;
    return "";
}

CliArgs ParseCliArgs(int argc, char** argv) {
    CliArgs a;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> positional;
    std::string firstError;
    LinkOptionReader link;
    bool addressGiven = false;
    auto fail = [&](const std::string& why) {
        if (firstError.empty()) firstError = why;
    };

    // The command is the first word that is neither an option nor the value
    // of a link option given before it.
    size_t i = 0;
    bool optionsEnded = false;
    for (; i < args.size(); ++i) {
        const std::string& s = args[i];
        if (LinkOptionReader::TakesNextWord(s)) {
            ++i;  // its value, read with the other options below
            continue;
        }
        if (!s.empty() && s[0] == '-') continue;
        a.command = FindCommand(s);
        if (a.command == CliCommand::None) {
            a.ok = false;
            a.error = "unknown command '" + s + "'";
            return a;
        }
        break;
    }
    const size_t commandIndex = i;
    const Accepts accepts = AcceptsOf(a.command);
    const bool gang = a.command == CliCommand::Write;
    if (gang) link.AllowMany();
    const std::string where = a.command == CliCommand::None ? "" : std::string(" for ") + CommandName(a.command);

    // Every other argument, in order.
    for (i = 0; i < args.size(); ++i) {
        if (i == commandIndex) continue;
        const std::string& s = args[i];
        if (optionsEnded || s.empty() || s[0] != '-' || s == "-") {
            positional.push_back(s);
            continue;
        }
        if (s == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name, value;
        bool hasValue = false;
        SplitOption(s, &name, &value, &hasValue);
        auto takeValue = [&](std::string* out) {
            if (hasValue) {
                *out = value;
            } else if (i + 1 < args.size() && i + 1 != commandIndex) {
                *out = args[++i];
            } else {
                fail("option " + name + " needs an argument");
                return false;
            }
            if (out->empty()) {
                fail("option " + name + " needs an argument");
                return false;
            }
            return true;
        };

        if (name == "--help" || name == "-h") {
            a.help = true;
        } else if (name == "--version" && a.command == CliCommand::None) {
            a.version = true;
        } else if ((name == "--port" && accepts.linkPort) || (name == "--sim" && accepts.link)) {
            if (!link.Read(args, i, commandIndex)) fail(link.Error());
        } else if (name == "--all" && gang && !hasValue) {
            a.all = true;
        } else if (name == "--progress-fd" && gang) {
            std::string text;
            double fd = -1;
            if (takeValue(&text) && (!ParseSeconds(text, &fd) || fd != static_cast<int>(fd) || fd > 1 << 20))
                fail("bad value for --progress-fd: '" + text + "'");
            a.progressFd = static_cast<int>(fd);
        } else if ((name == "--verbose" || name == "-v") && accepts.verbose && !hasValue) {
            a.verbose = true;
        } else if ((name == "--quiet" || name == "-q") && accepts.verbose && !hasValue) {
            a.quiet = true;
        } else if (name == "--verify" && accepts.verify) {
            // Its value only after '=': a word behind it is the FILE.
            a.verify = hasValue ? value : "read";
            if (a.verify != "read" && a.verify != "sum") fail("bad value for --verify: '" + value + "' (read or sum)");
        } else if (name == "--json" && a.command == CliCommand::Write && !hasValue) {
            a.json = true;
        } else if (name == "--reset" && accepts.reset && !hasValue) {
            a.reset = true;
        } else if (name == "--seconds" && accepts.seconds) {
            std::string text;
            if (takeValue(&text) && !ParseSeconds(text, &a.seconds)) fail("bad value for --seconds: '" + text + "'");
        } else if (name == "--eol" && accepts.reset) {
            std::string text;
            if (takeValue(&text)) {
                if (text == "cr")
                    a.enter = "\r";
                else if (text == "lf")
                    a.enter = "\n";
                else if (text == "crlf")
                    a.enter = "\r\n";
                else
                    fail("bad value for --eol: '" + text + "' (cr, lf or crlf)");
            }
        } else if (name == "--format" && a.command == CliCommand::Write) {
            std::string text;
            if (takeValue(&text) && !ParseImageFormat(text, &a.format))
                fail("bad value for --format: '" + text + "' (srec, hex or bin)");
        } else if (name == "--address" && a.command == CliCommand::Write) {
            std::string text;
            if (takeValue(&text) && !ParseAddress(text, &a.address)) fail("bad value for --address: '" + text + "'");
            addressGiven = true;
        } else if (name == "--pty" && accepts.pty) {
            takeValue(&a.ptyLink);
        } else if (name == "--skip-blank" && accepts.rate && !hasValue) {
            a.skipBlank = true;
        } else if (name == "--rate" && accepts.rate) {
            std::string text;
            if (takeValue(&text)) {
                if (a.rateGiven) fail("--rate given twice");
                a.rateGiven = true;
                if (text == "fastest")
                    a.rateFastest = true;
                else if (!ParseRate(text, &a.rate))
                    fail("bad value for --rate: '" + text + "' (bit/s or 'fastest')");
            }
        } else if (name == "--clock" && accepts.clock) {
            std::string text;
            if (takeValue(&text)) {
                if (a.clockGiven) fail("--clock given twice");
                a.clockGiven = true;
                if (!ParseClock(text, &a.clockUnits))
                    fail("bad value for --clock: '" + text + "' (MHz, up to two decimals, at most 655.35)");
            }
        } else {
            fail("unknown option '" + s + "'" + where);
        }
    }

    // Combinations and positional arguments.
    if (!link.Finish()) fail(link.Error());
    a.link = link.Choice();
    a.boards = link.Choices();
    if (a.verbose && a.quiet) fail("--verbose and --quiet exclude each other");
    if (a.json && (a.verbose || a.quiet)) fail("--json excludes --verbose and --quiet");
    if (a.all && !a.boards.empty()) fail("--all excludes --port and --sim");
    if (a.progressFd >= 0 && (a.all || a.boards.size() > 1)) fail("--progress-fd takes one board");
    if (addressGiven && a.format != ImageFormat::Binary) fail("--address needs --format bin");
    if (a.command == CliCommand::Write) {
        if (positional.empty())
            fail("write needs a FILE");
        else
            a.file = positional[0];
        if (positional.size() > 1) fail("unexpected argument '" + positional[1] + "'");
    } else if (!positional.empty()) {
        fail("unexpected argument '" + positional[0] + "'" + where);
    }
    if (a.command == CliCommand::Sim && a.ptyLink.empty() && firstError.empty()) fail("sim needs --pty LINK");

    if (a.help || a.version) return a;  // help is given whatever else is wrong
    if (!firstError.empty()) {
        a.ok = false;
        a.error = firstError;
    }
    return a;
}

bool LooksLikeCliCommand(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        if (LinkOptionReader::IsLinkOption(s)) {
            // A link option without its value is the command line's to report.
            LinkOptionReader one;
            if (!one.Read(args, i)) return true;
            continue;
        }
        if (s == "-h" || s.rfind("--", 0) == 0) return true;  // help, version, unknown
        if (!s.empty() && s[0] == '-') return false;          // the toolkit's own options
        return true;                                          // a command word
    }
    return false;
}
