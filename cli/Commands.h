// The commands of the command line, each run on parsed arguments; the result
// is the exit status: 0 success, 1 a failure of the target or the link, 2 a
// usage or file error.
#pragma once

#include "bootmode/BitRate.h"
#include "cli/CliArgs.h"
#include "cli/ConsoleForm.h"
#include "core/WriteOutcome.h"

#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The exit status of a write's outcome: 0 done, 2 a refused file, 1 anything
// else.
int ExitStatusOf(const WriteOutcome& outcome);

// The rates a write tries (--rate, --clock; none: the window's 38400), with
// a refusal printed and the usage status for a rate that is not usable, or
// kLinkReady (cli/LinkSetup.h).
int PlanWriteRates(const CliArgs& args, ClockSetup* clock, std::vector<RatePlan>* plans);

// Why the file at `path` could not be read, in the system's words.
std::string ReadFailure(const std::string& path);
// How a write reads its FILE: --format and --address.
ImageReadOptions ImageReadOptionsOf(const CliArgs& args);
// The messages a write or an erase shows: --json, --quiet, --verbose.
ConsoleForm::Verbosity VerbosityOf(const CliArgs& args);

int RunWrite(const CliArgs& args);
int RunErase(const CliArgs& args);
int RunMonitor(const CliArgs& args);
int RunReset(const CliArgs& args);
int RunList(const CliArgs& args);
int RunSim(const CliArgs& args);
int RunRates(const CliArgs& args);
