// Which converters the program talks to, as chosen on its command line:
//
//   (nothing)               every FTDI converter found through sysfs
//   --port PATH, --port=PATH  exactly the serial port at PATH
//   --sim, --sim=KEY=VALUE,...  the simulated board, on real time
//
// Contract
// - TakeLinkOptions removes the link options from `args` and leaves every
//   other argument in its order, for front ends with arguments of their own.
//   ParseLinkOptions (for the window) accepts nothing but link options.
// - At most one link option may be given. On an error (a second link option,
//   --port without a path, bad simulated-board options, an unknown argument
//   for ParseLinkOptions) the functions return false with a one-line message
//   in *error.
// - InstallLinkChoice installs the matching provider with SetLinkProvider and
//   returns it (owned by the driver layer).
#pragma once

#include "sim/SimOptions.h"

#include <string>
#include <vector>

struct LinkProvider;

struct LinkChoice {
    enum class Kind { Scan, Port, Sim };
    Kind kind = Kind::Scan;
    std::string port;   // Kind::Port: the device path
    SimOptions sim;     // Kind::Sim: the board's options
};

bool TakeLinkOptions(std::vector<std::string>& args, LinkChoice* choice, std::string* error);
// argv[1..argc-1], none of which may be anything but a link option.
bool ParseLinkOptions(int argc, char** argv, LinkChoice* choice, std::string* error);

LinkProvider* InstallLinkChoice(const LinkChoice& choice);

// The options' usage lines, for help texts.
const char* LinkOptionsUsage();
