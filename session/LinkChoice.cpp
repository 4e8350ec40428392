#include "session/LinkChoice.h"

#include "link/Provider.h"
#include "link/TtyProvider.h"
#include "sim/Clock.h"
#include "sim/SimProvider.h"

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

bool TakeLinkOptions(std::vector<std::string>& args, LinkChoice* choice, std::string* error) {
    LinkChoice result;
    bool chosen = false;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool port = a == "--port" || StartsWith(a, "--port=");
        const bool sim = a == "--sim" || StartsWith(a, "--sim=");
        if (!port && !sim) {
            rest.push_back(a);
            continue;
        }
        if (chosen) {
            *error = "only one of --port and --sim may be given, once";
            return false;
        }
        chosen = true;
        if (port) {
            result.kind = LinkChoice::Kind::Port;
            if (a == "--port") {
                if (i + 1 >= args.size()) {
                    *error = "--port needs a device path";
                    return false;
                }
                result.port = args[++i];
            } else {
                result.port = a.substr(7);
            }
            if (result.port.empty()) {
                *error = "--port needs a device path";
                return false;
            }
        } else {
            result.kind = LinkChoice::Kind::Sim;
            const std::string text = a == "--sim" ? std::string() : a.substr(6);
            if (!ParseSimOptions(text, &result.sim, error)) return false;
        }
    }
    args = std::move(rest);
    *choice = std::move(result);
    return true;
}

bool ParseLinkOptions(int argc, char** argv, LinkChoice* choice, std::string* error) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    LinkChoice parsed;
    if (!TakeLinkOptions(args, &parsed, error)) return false;
    if (!args.empty()) {
        *error = "unknown argument: " + args.front();
        return false;
    }
    *choice = std::move(parsed);
    return true;
}

LinkProvider* InstallLinkChoice(const LinkChoice& choice) {
    // The simulated board on real time needs a clock that lives as long as
    // the program.
    static RealClock realClock;
    std::unique_ptr<LinkProvider> provider;
    switch (choice.kind) {
    case LinkChoice::Kind::Scan: provider = MakeTtyProvider(); break;
    case LinkChoice::Kind::Port: provider = MakeTtyPortProvider(choice.port); break;
    case LinkChoice::Kind::Sim: provider = std::make_unique<SimProvider>(choice.sim, realClock, true); break;
    }
    LinkProvider* installed = provider.get();
    SetLinkProvider(std::move(provider));
    return installed;
}

const char* LinkOptionsUsage() {
    return "  --port PATH            use the serial port PATH (e.g. /dev/ttyUSB0) instead of\n"
           "                         the first FTDI converter found\n"
           "  --sim[=KEY=VALUE,...]  use the simulated board instead of a converter\n";
}
