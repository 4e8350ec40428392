// The command line: `h8sxwriter COMMAND ...` runs without Qt widgets and
// without a display, on the same core as the GUI.
#pragma once

// True when argv[1] names a command of the command line (write, monitor,
// reset, list, sim) or asks for help; main() then hands over to CliMain.
bool IsCliCommand(int argc, char** argv);
// Runs the command; the result is the process's exit status.
int CliMain(int argc, char** argv);
