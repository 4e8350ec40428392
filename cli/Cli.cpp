#include "cli/Cli.h"

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/GangWrite.h"
#include "packaging/BuildRevision.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kLinkHelp =
    "Link (before or after the command):\n"
    "  --port PATH      the serial device PATH: a ttyUSB, any other serial tty, or a\n"
    "                   pseudo-terminal (such as one made by 'h8sxwriter sim --pty')\n"
    "  --sim[=OPTS]     the built-in simulated board; OPTS is KEY=VALUE,... (see the\n"
    "                   README), e.g. --sim=flash=/tmp/flash.bin\n"
    "  Without either, the first FTDI converter found is used.\n";

constexpr const char* kExitHelp =
    "Exit status: 0 success, 1 a failure of the target or the link, 2 a usage or\n"
    "file error.\n";

struct CommandHelp {
    CliCommand command;
    const char* usage;  // one line, after "Usage: h8sxwriter "
    const char* text;   // the rest of --help
};

const CommandHelp kHelp[] = {
    {CliCommand::Write,
     "write FILE [--format F [--address A]] [--rate BPS | --rate fastest] [--clock MHZ]\n"
     "                   [--skip-blank] [--verify[=read|sum]] [--port PATH | --sim[=OPTS]]\n"
     "                   [--verbose | --quiet | --json]",
     "Programs FILE into the target's flash: Motorola S-records or Intel HEX, told\n"
     "apart by the file's content (first character 'S' or ':'), or raw binary.\n"
     "FILE is read and checked completely first; a refused or unreadable file ends\n"
     "the command (exit 2) before the converter or the target is touched. Then the\n"
     "converter is opened, the target is put into boot mode, its flash is erased and\n"
     "programmed, and the target is restarted into the new program.\n"
     "The status messages go to standard output: on a terminal on one line, each\n"
     "replacing the one before (the last one stays), in a pipe or a file (and with\n"
     "--verbose) each on a line of its own. While standard error is a terminal a\n"
     "progress bar there follows the programming.\n"
     "A summary line ends the output: bytes, blocks sent, time, rate, the verify's\n"
     "result, and the board's state when the write did not end with its new\n"
     "program running.\n"
     "\n"
     "A file whose records hold no data byte is refused (exit 2): writing it would\n"
     "only erase the flash, which 'h8sxwriter erase' does on purpose.\n"
     "\n"
     "  --format F       read FILE as F whatever it holds: srec, hex, or bin (raw\n"
     "                   bytes, never detected)\n"
     "  --address A      with bin: the flash address of the file's first byte\n"
     "                   (decimal or 0x hex; default 0)\n"
     "  --verify[=read|sum]\n"
     "                   after programming, before the restart, check the flash:\n"
     "                   read = read the image's range back and compare it byte\n"
     "                   for byte (--verify alone); sum = compare the chip's sum\n"
     "                   of its whole user area with the one expected\n"
     "  -v, --verbose    every message on a line of its own, also on a terminal, and\n"
     "                   the per-block texts (\"rssponse OK\" and a blank line)\n"
     "  -q, --quiet      only the last message, no summary\n"
     "  --rate BPS       program at BPS bit/s instead of 38400; a rate that the chip\n"
     "                   or the converter cannot hit closely enough is refused (exit 2)\n"
     "                   before the target is touched ('h8sxwriter rates' lists them)\n"
     "  --rate fastest   the highest usable rate; when it fails on the wire, the write\n"
     "                   starts again at the next lower one, down to 38400\n"
     "  --clock MHZ      the board's input clock told to the chip (default 12.50)\n"
     "  --skip-blank     do not send blocks that hold only 0xFF (the chip has just\n"
     "                   erased them); the block with the trailer is always sent\n"
     "  --json           only the summary, as one JSON object on standard output\n"
     "  --all            a gang write to every FTDI converter listed\n"
     "SIGINT, SIGTERM and SIGHUP stop the write at its next safe point, leave the\n"
     "board in boot mode and say what it holds (exit 128 + the signal).\n"
     "\n"
     "A gang write (--port or --sim given more than once, or --all) writes every\n"
     "board at once, each by a child process of its own with the other options:\n"
     "a line per board, then a table (with --json an array of the summaries). It\n"
     "exits with 0 only when every board is done.\n"
     "Exit status: 0 when the write ended with \"FLASH ROM write correct done!\"\n"
     "(and, with --verify, the verify passed), 1 for a failure of the target or the\n"
     "link or a failed verify, 2 for usage and file errors.\n"},
    {CliCommand::Erase, "erase [--port PATH | --sim[=OPTS]] [--quiet]",
     "Erases the target's flash: restarts it into boot mode, runs the boot-mode\n"
     "sequence up to the erase and the user-area selection, confirms with the\n"
     "chip's blank check and restarts the target.\n"
     "\n"
     "  -q, --quiet      only the last message\n"
     "Exit status: 0 when the blank check passed, 1 otherwise, 2 for usage errors.\n"},
    {CliCommand::Monitor, "monitor [--reset] [--seconds N] [--eol cr|lf|crlf] [--port PATH | --sim[=OPTS]]",
     "A terminal serial monitor at 38400 bit/s: bytes from the target go to standard\n"
     "output unchanged, bytes from standard input go to the target. While standard\n"
     "input is a terminal it is in raw mode and Ctrl-] quits. Otherwise what it gives\n"
     "is sent and the monitor ends one second after its end, once the target has\n"
     "fallen quiet. Messages of the connection go to standard error.\n"
     "\n"
     "  --reset          restart the target into its program first\n"
     "  --seconds N      end after N seconds (N may have a fraction), whatever\n"
     "                   standard input does\n"
     "  --eol cr|lf|crlf what Enter on a terminal sends (default: cr)\n"},
    {CliCommand::Reset, "reset [--port PATH | --sim[=OPTS]]", "Restarts the target into its program.\n"},
    {CliCommand::List, "list [--port PATH | --sim[=OPTS]]",
     "Lists the converters found, one a line: index, serial number, device path,\n"
     "separated by tabs. Exit status 1 when none is found.\n"},
    {CliCommand::Rates, "rates [--clock MHZ]",
     "Lists the bit rates that the chip and an FTDI converter can both use for\n"
     "'write --rate', the fastest first: the chip's clock select and divider (n/N),\n"
     "its rate and error, the converter's rate and error (both against the rate\n"
     "told), how far apart the two ends run, and the time a 128-byte block takes on\n"
     "the wire.\n"
     "\n"
     "  --clock MHZ      the board's input clock (default 12.50)\n"},
    {CliCommand::Sim, "sim --pty LINK [--sim=OPTS]",
     "Serves the simulated board on a pseudo-terminal: LINK becomes a symbolic link\n"
     "to it, for 'h8sxwriter write FILE --port LINK' and the other commands. A pty\n"
     "carries no modem lines: the board starts in boot mode and runs its program\n"
     "once a write has ended. Runs until interrupted (SIGINT or SIGTERM).\n"
     "\n"
     "  --pty LINK       the path of the symbolic link to create\n"
     "  --sim=OPTS       the board's options, as for --sim\n"},
};

const CommandHelp* HelpOf(CliCommand c) {
    for (const CommandHelp& h : kHelp)
        if (h.command == c) return &h;
    return nullptr;
}

void PrintProgramHelp() {
    std::printf(
        "Usage: h8sxwriter [--port PATH | --sim[=OPTS]]   the window\n"
        "       h8sxwriter COMMAND [ARGUMENTS] [OPTIONS]  the command line\n"
        "\n"
        "A flash writer for the Renesas H8SX/1622 through its serial boot mode over an\n"
        "FTDI USB-to-serial converter, with a serial monitor and a simulated board.\n"
        "\n"
        "Commands:\n"
        "  write FILE       program an S-record, Intel HEX or binary file into the flash\n"
        "  erase            erase the target's flash and check that it is blank\n"
        "  monitor          terminal serial monitor at 38400 bit/s\n"
        "  reset            restart the target into its program\n"
        "  list             list the converters found\n"
        "  rates            list the bit rates usable for a write\n"
        "  sim --pty LINK   serve the simulated board on a pseudo-terminal\n"
        "\n"
        "%s"
        "\n"
        "  -h, --help       this help; 'h8sxwriter COMMAND --help' for a command\n"
        "  --version        the program's version (and git revision)\n"
        "%s",
        kLinkHelp, kExitHelp);
}

void PrintCommandHelp(const CommandHelp& h) {
    std::printf("Usage: h8sxwriter %s\n\n%s", h.usage, h.text);
    if (h.command != CliCommand::Sim && h.command != CliCommand::Rates) std::printf("\n%s", kLinkHelp);
    if (h.command != CliCommand::Write && h.command != CliCommand::Erase && h.command != CliCommand::Sim &&
        h.command != CliCommand::Rates)
        std::printf("%s", kExitHelp);
}

int UsageError(const CliArgs& a) {
    std::fprintf(stderr, "h8sxwriter: %s\n", a.error.c_str());
    if (const CommandHelp* h = HelpOf(a.command)) {
        std::fprintf(stderr, "Usage: h8sxwriter %s\nTry 'h8sxwriter %s --help'.\n", h->usage, CommandName(a.command));
    } else {
        std::fprintf(stderr,
                     "Usage: h8sxwriter [--port PATH | --sim[=OPTS]] [COMMAND [ARGUMENTS]]\n"
                     "Commands: write, erase, monitor, reset, list, rates, sim. Try 'h8sxwriter --help'.\n");
    }
    return kExitUsage;
}

}  // namespace

bool IsCliCommand(int argc, char** argv) { return LooksLikeCliCommand(argc, argv); }

int CliMain(int argc, char** argv) {
    const CliArgs a = ParseCliArgs(argc, argv);
    if (!a.ok) return UsageError(a);
    if (a.help) {
        if (const CommandHelp* h = HelpOf(a.command))
            PrintCommandHelp(*h);
        else
            PrintProgramHelp();
        return kExitOk;
    }
    if (a.version) {
        // A build from a git work tree names its revision too.
        if (*BuildRevision())
            std::printf("h8sxwriter %s (git %s)\n", H8SXWRITER_VERSION, BuildRevision());
        else
            std::printf("h8sxwriter %s\n", H8SXWRITER_VERSION);
        return kExitOk;
    }
    // A reader that goes away (`h8sxwriter write ... | head -3`) must not end
    // a write half-way and leave the target in boot mode: output to it just
    // fails from then on.
    std::signal(SIGPIPE, SIG_IGN);
    switch (a.command) {
    case CliCommand::Write:
        return IsGangWrite(a) ? RunGangWrite(a, std::vector<std::string>(argv + 1, argv + argc)) : RunWrite(a);
    case CliCommand::Erase: return RunErase(a);
    case CliCommand::Monitor: return RunMonitor(a);
    case CliCommand::Reset: return RunReset(a);
    case CliCommand::List: return RunList(a);
    case CliCommand::Sim: return RunSim(a);
    case CliCommand::Rates: return RunRates(a);
    case CliCommand::None: break;
    }
    // Only link options: they belong to the window, which main() starts.
    CliArgs noCommand = a;
    noCommand.error = "no command given";
    return UsageError(noCommand);
}
