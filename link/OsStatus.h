// Translation of operating-system errors into driver statuses. The tty
// backend calls this at the one place an OS call fails, so callers above the
// driver layer only ever see a LinkStatus.
#pragma once

#include "link/Driver.h"

// errno value -> status (never LINK_OK):
//   ENOENT, ENODEV, ENXIO        -> LINK_DEVICE_NOT_FOUND (gone or unplugged)
//   EACCES, EPERM, EBUSY         -> LINK_DEVICE_NOT_OPENED (no right, or in use)
//   ENOTTY, EINVAL, EOPNOTSUPP   -> LINK_NOT_SUPPORTED (not a serial port)
//   anything else                -> LINK_IO_ERROR
uint32_t LinkStatusFromErrno(int error);
