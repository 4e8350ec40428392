// Providers of real serial ports for the driver layer.
//
// MakeTtyProvider: every FTDI converter the kernel's ftdi_sio driver shows
// (link/Sysfs.h), in tty-number order, each listed with its USB serial number.
// MakeTtyPortProvider(path): exactly one device, the one at `path` (a ttyUSB,
// any other serial tty, a pseudo-terminal, or a link to one such as
// /dev/serial/by-id/...). It is listed while `path` exists and may be a
// serial port (a character device that sysfs does not file under another
// class than tty; a regular file or /dev/null is not listed), with:
//   - the converter's USB serial number if `path` resolves to an FTDI ttyUSB;
//   - otherwise a name taken from the resolved path: the part after "/dev/"
//     without slashes ("/dev/pts/3" -> "pts3", "/dev/ttyS0" -> "ttyS0"), or
//     the file name for a path outside /dev.
//
// Both open the first listed device whose serial number equals the requested
// text or begins with it (an empty text opens nothing). A device that is
// opened twice is the same device; devices stay open until the provider goes.
//
// Reason() after an empty List or a failed Open: for the port, "PATH: " and
// the operating system's reason or "not a serial port (a regular file)" and
// the like; for the scan, "no FTDI converter found: ..."; for a failed open
// of a listed device, TtyDevice::Open's reason (link/OsStatus.h, OsReason).
#pragma once

#include "link/Provider.h"

#include <memory>
#include <string>

std::unique_ptr<LinkProvider> MakeTtyProvider();
std::unique_ptr<LinkProvider> MakeTtyPortProvider(const std::string& path);

// The same with the sysfs tree and the device directory given, for tests.
std::unique_ptr<LinkProvider> MakeTtyProvider(const std::string& sysRoot, const std::string& devRoot);
std::unique_ptr<LinkProvider> MakeTtyPortProvider(const std::string& path, const std::string& sysRoot);

// The serial number MakeTtyPortProvider lists for `path` (see above).
std::string PortSerialNumber(const std::string& path, const std::string& sysRoot = "/sys");
