// The command line's grammar: `h8sxwriter [LINK] COMMAND [ARGS] [OPTIONS]`.
//
// Contract
// - ParseCliArgs never prints and never exits; it returns what it found, with
//   `error` set (and `ok` false) for an unknown command, an unknown option, a
//   missing or surplus argument, or a bad value.
// - The link options --port PATH and --sim[=OPTS] may stand before or after
//   the command; they are read by the window's grammar (session/LinkChoice.h).
//   Without either, the converters are found by the usual scan for FTDI
//   devices. The board's options are checked when the link is set up.
// - --help (or -h) anywhere asks for help: for the command when one is named,
//   otherwise for the program. It wins over every other error except an
//   unknown command.
// - `sim` takes --sim=OPTS for the board's options but no --port.
// - `write` takes --port or --sim more than once (not both kinds), or --all,
//   for a gang write of several boards; the hidden --progress-fd=N is for a
//   gang write's children and takes one board only.
// - `write` takes --format srec|hex|bin (default: by the file's content) and,
//   with bin only, --address A (decimal or 0x hex, below 2^32).
// - `rates` takes --clock only, no link. --rate takes a number of bit/s or
//   "fastest"; --clock a frequency in MHz with at most two decimals, above 0
//   and up to 655.35 (what the boot-mode command carries).
#pragma once

#include "image/ImageReader.h"
#include "session/LinkChoice.h"

#include <cstdint>
#include <string>
#include <vector>

enum class CliCommand { None, Write, Monitor, Reset, List, Sim, Rates, Erase };

struct CliArgs {
    bool ok = true;
    std::string error;  // why parsing failed (for the short usage)

    CliCommand command = CliCommand::None;
    bool help = false;
    bool version = false;

    LinkChoice link;  // the first (for most commands the only) link option
    // write: every board of a gang write, in the order given (--port or --sim
    // repeated); one entry for a single write with a link option.
    std::vector<LinkChoice> boards;
    bool all = false;                          // write: every FTDI converter listed
    int progressFd = -1;                       // write (hidden): where a gang child sends its events
    std::string file;                          // write: the image file
    ImageFormat format = ImageFormat::Detect;  // write: --format srec|hex|bin
    uint32_t address = 0;                      // write: --address A, where a binary goes (only with bin)
    bool verbose = false;                      // write: also the per-block texts
    bool quiet = false;                        // write: only the last message
    std::string verify;                        // write: "" no verify, "read" or "sum" (--verify alone: "read")
    bool json = false;                         // write: the summary as JSON instead of the messages
    bool skipBlank = false;                    // write: blocks of 0xFF only are not sent
    bool rateGiven = false;                    // write: --rate given
    bool rateFastest = false;                  //   --rate fastest
    uint32_t rate = 0;                         //   --rate BPS
    bool clockGiven = false;                   // write, rates: --clock given
    uint16_t clockUnits = 1250;                // --clock MHZ in units of 0.01 MHz
    bool reset = false;                        // monitor: restart the target first
    double seconds = -1;                       // monitor: run this long (< 0: until quit / EOF)
    std::string enter = "\r";                  // monitor: what Enter on a terminal sends (--eol cr|lf|crlf)
    std::string ptyLink;                       // sim: the symlink to create
};

CliArgs ParseCliArgs(int argc, char** argv);

// True when the arguments are for the command line rather than the window:
// a command word, a request for help or the version, or something the window
// would not understand (an unknown "--" option, a link option without its
// value). Only the link options (and options of one dash, which belong to the
// toolkit) are left to the window.
bool LooksLikeCliCommand(int argc, char** argv);

// The command's name as typed ("write", ...), "" for None.
const char* CommandName(CliCommand command);
