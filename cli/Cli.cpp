// Filled in with the command line.
