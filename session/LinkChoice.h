// Which converters the program talks to, as chosen on its command line, and
// the one grammar of those options for the window's start-up and every
// command:
//
//   (nothing)                   every FTDI converter found through sysfs
//   --port PATH, --port=PATH    exactly the serial port at PATH
//   --sim, --sim=KEY=VALUE,...  the simulated board, on real time
//
// Contract
// - LinkOptionReader reads the options word by word. Read takes the link
//   option at args[i] with its value and advances i past them; it refuses
//   --port without a path ("option --port needs an argument") and an option
//   given twice ("--port given twice", "--sim given twice"). Finish refuses
//   both kinds together ("--port and --sim exclude each other"). The first
//   refusal is kept in Error(). The board's options are kept as text.
//   A reader made with AllowMany() takes the option more than once (a gang
//   write): Choices() lists every one in order, Choice() is the first.
// - CheckLinkChoice parses the board's options into `sim` (false with
//   ParseSimOptions's message); nothing is opened or installed.
// - TakeLinkOptions removes the link options from `args` and leaves every
//   other argument in its order; ParseLinkOptions (for the window) accepts
//   nothing but link options ("unknown argument: X"). Both check the choice
//   and return false with a one-line message in *error.
// - InstallLinkChoice installs the matching provider with SetLinkProvider and
//   returns it (owned by the driver layer).
#pragma once

#include "sim/SimOptions.h"

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

struct LinkProvider;

struct LinkChoice {
    enum class Kind { Scan, Port, Sim };
    Kind kind = Kind::Scan;
    std::string port;        // Kind::Port: the device path
    std::string simOptions;  // Kind::Sim: "KEY=VALUE,..." as given (may be empty)
    SimOptions sim;          // Kind::Sim: the board's options, once checked
};

class LinkOptionReader {
public:
    static constexpr size_t kNoLimit = std::numeric_limits<size_t>::max();

    // "--port", "--port=...", "--sim" or "--sim=...".
    static bool IsLinkOption(const std::string& word);
    // True for "--port" alone, whose value is the next word.
    static bool TakesNextWord(const std::string& word) { return word == "--port"; }

    // Reads the link option at args[i]; args[notAValue] (the command word)
    // never serves as --port's value. False when it was refused.
    bool Read(const std::vector<std::string>& args, size_t& i, size_t notAValue = kNoLimit);
    // The check of the whole set, once every word is read.
    bool Finish();

    // The option may be given more than once, one board each.
    void AllowMany() { many_ = true; }

    const LinkChoice& Choice() const { return choice_; }
    const std::vector<LinkChoice>& Choices() const { return choices_; }
    const std::string& Error() const { return error_; }

private:
    bool Refuse(const std::string& why);
    bool Take(const LinkChoice& board);

    LinkChoice choice_;
    std::vector<LinkChoice> choices_;
    bool many_ = false;
    bool portGiven_ = false;
    bool simGiven_ = false;
    std::string error_;
};

bool CheckLinkChoice(LinkChoice& choice, std::string* error);

bool TakeLinkOptions(std::vector<std::string>& args, LinkChoice* choice, std::string* error);
// argv[1..argc-1], none of which may be anything but a link option.
bool ParseLinkOptions(int argc, char** argv, LinkChoice* choice, std::string* error);

LinkProvider* InstallLinkChoice(const LinkChoice& choice);

// The options' usage lines, for help texts.
const char* LinkOptionsUsage();
