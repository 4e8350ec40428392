// The simulated board on a pseudo-terminal, for end-to-end runs of the tty
// backend: `h8sxwriter sim --pty LINK` makes LINK a symlink to the slave of a
// new pty and serves the board on the master on real time.
//
// A pty carries no modem lines: the chip starts in boot mode, and after
// acknowledging the end command it restarts into the user program (banner,
// echo) by itself. The host's bit rate and framing are read from the slave's
// termios whenever bytes move, so a host at the wrong rate garbles as on a
// wire.
#pragma once

#include "sim/SimOptions.h"

#include <string>

// Serves until SIGINT or SIGTERM, then removes the link and returns 0. Returns
// 1 with a message on stderr when the pty or the link cannot be made (an
// existing LINK that is not a symlink is left alone).
int RunSimPty(const std::string& linkPath, const SimOptions& options);
