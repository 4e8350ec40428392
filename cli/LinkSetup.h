// The link of a command: checks the options, installs the provider that
// --port, --sim or the default scan asks for, and connects as the main
// window's start-up does. Every error is printed once, on standard error, as
// "h8sxwriter: MESSAGE".
#pragma once

#include "session/LinkChoice.h"

class FormCore;

// The status a command ends with when the link is not ready; kLinkReady when
// it is.
constexpr int kLinkReady = -1;

// Checks the link options without touching any device or file (a bad --sim
// option, for instance): the usage status on an error.
int CheckLink(LinkChoice& link);
// Installs the provider of a checked choice: the failure status on an error.
int InstallLink(const LinkChoice& link);
// Both, for the commands that have nothing to do in between.
int SetUpLink(LinkChoice& link);
// The start-up connection (settings file, listing, open, with their
// messages). True when the converter was opened.
bool ConnectAsStartUp(FormCore& form);
