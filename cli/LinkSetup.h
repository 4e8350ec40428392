// The link of a command: installs the provider that --port, --sim or the
// default scan asks for, and connects as the main window's start-up does.
#pragma once

#include "cli/CliArgs.h"

#include <string>

class FormCore;

// Checks the link arguments without touching any device or file (a bad
// --sim option, for instance); false with a message in *error.
bool CheckLink(const LinkArgs& link, std::string* error);
// Installs the provider; false with a message in *error.
bool InstallLink(const LinkArgs& link, std::string* error);
// The start-up connection (settings file, listing, open, with their
// messages). True when the converter was opened.
bool ConnectAsStartUp(FormCore& form);
