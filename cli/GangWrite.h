// A gang write: one FILE into several boards at once, each on its own
// converter (`write FILE --port A --port B ...`, `--all`, or `--sim`
// repeated for simulated boards).
//
// Contract
// - The link options and FILE are checked once, before any board is
//   touched; a usage or file error ends the command with 2 and starts no
//   child.
// - Each board is written by a child process of its own: this program with
//   the parent's arguments minus the link options, --all, --json, --verbose
//   and --quiet, plus the board's one link option, --json, and the hidden
//   --progress-fd=3 on which the child sends its events (one JSON object a
//   line, see cli/ConsoleForm.h). Every other write option thus applies to
//   every board unchanged. A child is in a process group of its own and gets
//   SIGTERM should the parent die.
// - The parent only starts, watches and reports. Standard output on a
//   terminal: one line per board, redrawn in place (board, last message,
//   percentage and rate while programming), then a result table. Otherwise
//   one line per board as it ends. With --json: only a JSON array of the
//   boards' summaries, in the order the boards were given. A final line says
//   how many boards were written and how long it took (not with --json).
// - A child that ends without a summary is reported as "crashed" with what
//   it wrote on standard error, or the signal that ended it.
// - SIGINT, SIGTERM and SIGHUP are passed on to every child that still
//   runs; each stops as an interrupted single write does and reports its
//   board's state; the parent waits for them all.
// - Exit status: 0 when every board is done; 128 + the signal after an
//   interrupt; otherwise 1.
#pragma once

#include "cli/CliArgs.h"

#include <string>
#include <vector>

// True when the write names more than one board, or --all.
bool IsGangWrite(const CliArgs& args);

// `argv`: the arguments as given, without the program's name.
int RunGangWrite(const CliArgs& args, const std::vector<std::string>& argv);

// A child's arguments (without the program's name): `argv` less the options
// named above, then `board`'s link option, --json and --progress-fd=FD, all
// placed before a "--" if there is one.
std::vector<std::string> ChildArguments(const std::vector<std::string>& argv, const LinkChoice& board, int progressFd);
