// Translation of operating-system errors into driver statuses. The tty
// backend calls this at the one place an OS call fails, so callers above the
// driver layer only ever see a LinkStatus.
#pragma once

#include "link/Driver.h"

#include <string>

// errno value -> status (never LINK_OK):
//   ENOENT, ENODEV, ENXIO        -> LINK_DEVICE_NOT_FOUND (gone or unplugged)
//   EACCES, EPERM, EBUSY         -> LINK_DEVICE_NOT_OPENED (no right, or in use)
//   ENOTTY, EINVAL, EOPNOTSUPP   -> LINK_NOT_SUPPORTED (not a serial port)
//   anything else                -> LINK_IO_ERROR
uint32_t LinkStatusFromErrno(int error);

// The operator's account of a port that could not be opened (or used, or
// listed) because of errno `error`: the path, the operating system's own
// text, and what to do where that is known. One line, no line end:
//   EACCES, EPERM  "PATH: Permission denied; add yourself to the group G
//                  (sudo usermod -aG G "$USER", then log in again) or give
//                  the converter to your user with the udev rule in the
//                  README"; G is the group that owns PATH, or dialout when
//                  that is root or unknown
//   EBUSY          "PATH: Device or resource busy (another program has the
//                  port open)"
//   ENOTTY         "PATH: not a serial port (Inappropriate ioctl for device)"
//   anything else  "PATH: <strerror(error)>"
std::string OsReason(const std::string& path, int error);
