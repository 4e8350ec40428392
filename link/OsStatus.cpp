#include "link/OsStatus.h"

#include <grp.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>

uint32_t LinkStatusFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return LINK_DEVICE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY: return LINK_DEVICE_NOT_OPENED;
    case ENOTTY:
    case EINVAL:
    case EOPNOTSUPP: return LINK_NOT_SUPPORTED;
    default: return LINK_IO_ERROR;
    }
}

std::string OsReason(const std::string& path, int error) {
    std::string text = path + ": " + std::strerror(error);
    switch (error) {
    case EACCES:
    case EPERM: {
        // The remedy names the group that owns the device: dialout on
        // Debian and Ubuntu, uucp on Arch, and so on.
        std::string owner = "dialout";
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && st.st_gid != 0) {
            if (const struct group* g = getgrgid(st.st_gid); g && g->gr_name && *g->gr_name) owner = g->gr_name;
        }
        text += "; add yourself to the group " + owner + " (sudo usermod -aG " + owner +
                " \"$USER\", then log in again) or give the converter to your user with the udev rule in the README";
        break;
    }
    case EBUSY: text += " (another program has the port open)"; break;
    case ENOTTY: text = path + ": not a serial port (" + std::strerror(error) + ")"; break;
    default: break;
    }
    return text;
}
