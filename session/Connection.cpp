#include "session/Connection.h"

#include "bootmode/LinkRate.h"
#include "core/FormCore.h"
#include "link/Driver.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

std::string ExecutableDir() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    std::string path(buffer, static_cast<size_t>(n));
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

std::string HomeDir() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    const passwd* pw = getpwuid(getuid());
    return pw && pw->pw_dir ? pw->pw_dir : std::string();
}

// mkdir -p; true when the directory exists afterwards.
bool MakeDirs(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i != dir.size() && dir[i] != '/') continue;
        const std::string part = dir.substr(0, i);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Join(const std::string& dir, const char* name) {
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

enum class Loaded { Read, Created, None };

// Reads the three settings bytes from `path`, or, if `mayCreate`, creates the
// file holding "113" when it cannot be read.
Loaded LoadSettings(const std::string& path, uint8_t settings[3], bool mayCreate = true) {
    if (std::FILE* in = std::fopen(path.c_str(), "r")) {
        for (int i = 0; i < 3; ++i) settings[i] = static_cast<uint8_t>(std::fgetc(in));
        std::fclose(in);
        return Loaded::Read;
    }
    if (!mayCreate) return Loaded::None;
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (!out) return Loaded::None;
    const uint8_t created[3] = {'1', '1', '3'};
    bool ok = true;
    for (uint8_t b : created) ok = std::fputc(b, out) != EOF && ok;
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::remove(path.c_str());  // a half-written file would be read next time
        return Loaded::None;
    }
    for (int i = 0; i < 3; ++i) settings[i] = created[i];
    return Loaded::Created;
}

}  // namespace

bool IsSystemProgramDir(const std::string& dir) {
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    for (const char* system : {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/games", "/usr/local/bin",
                               "/usr/local/sbin", "/usr/local/games"})
        if (d == system) return true;
    return false;
}

SettingsPlaces DefaultSettingsPlaces() {
    SettingsPlaces places;
    places.executableDir = ExecutableDir();
    places.executableDirIsSystem = IsSystemProgramDir(places.executableDir);
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const std::string home = HomeDir();
        if (!home.empty()) base = home + "/.config";
    }
    if (!base.empty()) places.configDir = base + "/h8sxwriter";
    return places;
}

void FormShow(FormCore& form) { FormShow(form, DefaultSettingsPlaces()); }

void FormShow(FormCore& form, const SettingsPlaces& places) {
    form.LinkBusy = 1;
    form.MonitorRateSet = 0;

    // 1. The settings file: next to the executable (there only read, when
    //    that is a system directory), else in the user's configuration
    //    folder (made on demand).
    Loaded loaded = Loaded::None;
    if (!places.executableDir.empty())
        loaded =
            LoadSettings(Join(places.executableDir, kSettingsFileName), form.Settings, !places.executableDirIsSystem);
    if (loaded == Loaded::None && !places.configDir.empty() && MakeDirs(places.configDir))
        loaded = LoadSettings(Join(places.configDir, kSettingsFileName), form.Settings);

    if (loaded == Loaded::None) {
        form.ShowStatus("can't find data_file");
    } else {
        // 2. A file read or just created: list converter 0, show it, open it.
        LastStatus = ListSerialNumber(0, form.SerialNumber, LIST_BY_INDEX_SERIAL);
        if (LastStatus == LINK_OK) {
            form.ShowSerialNumber(form.SerialNumber);
            form.ShowStatus("Serial Number Read Success!");
        } else {
            form.ShowStatus("Read failed ! Can't See FTDI IC");
        }
        OpenConverter(form);
    }

    form.LinkBusy = 0;
}

void OpenConverter(FormCore& form) {
    // 1. The open uses at most the first 8 characters of the serial number.
    form.SerialNumber[8] = '\0';

    // 2. Open and report.
    LastStatus = OpenBySerialNumber(form.SerialNumber, OPEN_BY_SERIAL_NUMBER, &DeviceHandle);
    if (LastStatus == LINK_OK) {
        form.ShowStatus("USB Serial Number Open Success!");
    } else {
        form.ShowStatus("USB Serial Number Open failed !");
        form.SystemBeep();
        // The path and the operating system's reason, for the operator.
        if (!LastReason.empty()) std::fprintf(stderr, "h8sxwriter: %s\n", LastReason.c_str());
    }

    // 3. The link settings, whatever the outcome; their statuses are ignored.
    SetLinkRate(form, 19200);
    SetDataCharacteristics(DeviceHandle, BITS_8, STOP_BITS_1, PARITY_NONE);
    SetTimeouts(DeviceHandle, 0, 0);
    SetUsbParameters(DeviceHandle, 10000, 10000);
}
