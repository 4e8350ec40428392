#include "session/LinkChoice.h"

#include "link/Provider.h"
#include "link/TtyProvider.h"
#include "sim/Clock.h"
#include "sim/SimProvider.h"

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

bool LinkOptionReader::IsLinkOption(const std::string& word) {
    return word == "--port" || StartsWith(word, "--port=") || word == "--sim" || StartsWith(word, "--sim=");
}

bool LinkOptionReader::Refuse(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
}

bool LinkOptionReader::Read(const std::vector<std::string>& args, size_t& i, size_t notAValue) {
    const std::string& word = args[i];
    if (StartsWith(word, "--port")) {
        std::string path;
        if (word == "--port") {
            if (i + 1 < args.size() && i + 1 != notAValue) path = args[++i];
        } else {
            path = word.substr(7);
        }
        if (path.empty()) return Refuse("option --port needs an argument");
        if (portGiven_ && !many_) return Refuse("--port given twice");
        portGiven_ = true;
        LinkChoice board;
        board.kind = LinkChoice::Kind::Port;
        board.port = path;
        return Take(board);
    }
    if (simGiven_ && !many_) return Refuse("--sim given twice");
    simGiven_ = true;
    LinkChoice board;
    board.kind = LinkChoice::Kind::Sim;
    board.simOptions = word == "--sim" ? std::string() : word.substr(6);
    return Take(board);
}

bool LinkOptionReader::Take(const LinkChoice& board) {
    if (choices_.empty()) choice_ = board;
    choices_.push_back(board);
    return true;
}

bool LinkOptionReader::Finish() {
    if (portGiven_ && simGiven_) return Refuse("--port and --sim exclude each other");
    return error_.empty();
}

bool CheckLinkChoice(LinkChoice& choice, std::string* error) {
    if (choice.kind != LinkChoice::Kind::Sim) return true;
    return ParseSimOptions(choice.simOptions, &choice.sim, error);
}

bool TakeLinkOptions(std::vector<std::string>& args, LinkChoice* choice, std::string* error) {
    LinkOptionReader reader;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (!LinkOptionReader::IsLinkOption(args[i])) {
            rest.push_back(args[i]);
            continue;
        }
        if (!reader.Read(args, i)) break;
    }
    LinkChoice result = reader.Choice();
    if (!reader.Finish()) {
        *error = reader.Error();
        return false;
    }
    if (!CheckLinkChoice(result, error)) return false;
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
