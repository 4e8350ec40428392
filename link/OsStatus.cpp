#include "link/OsStatus.h"

#include <cerrno>

uint32_t LinkStatusFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return LINK_DEVICE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
        return LINK_DEVICE_NOT_OPENED;
    case ENOTTY:
    case EINVAL:
    case EOPNOTSUPP:
        return LINK_NOT_SUPPORTED;
    default:
        return LINK_IO_ERROR;
    }
}
