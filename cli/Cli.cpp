#include "cli/Cli.h"

// Filled in with the command line.
bool IsCliCommand(int, char**) { return false; }
int CliMain(int, char**) { return 2; }
