// The start-up connection: the settings file "vkp1622.par" and the opening of
// the first converter by its serial number.
//
// Contract
// - FormShow runs once, when the main window is first shown (the command line
//   calls it once too). It sets LinkBusy for its whole run, clears
//   MonitorRateSet, never runs the message pump, and ends with LinkBusy 0.
// - Where the settings file lives: the executable's directory when the file
//   can be read there, or can be created there and that directory is not a
//   system one such as /usr/bin (a file there would belong to no package,
//   and only root could make it); otherwise the same name in the user's
//   configuration directory ($XDG_CONFIG_HOME/h8sxwriter, else
//   ~/.config/h8sxwriter, created when missing). Only when neither works the
//   status line says "can't find data_file" and the driver is not called.
// - A file that could be read gives Settings its first three bytes (a byte
//   past the end reads as 0xFF). A file that had to be created is written as
//   "113", and Settings holds "113" too. Either way the start-up then lists
//   converter 0, shows its serial number in the serial-number field, and
//   calls OpenConverter. The file is never rewritten.
// - OpenConverter cuts SerialNumber to 8 characters, opens by it into
//   DeviceHandle (status in LastStatus), reports the outcome (a failure also
//   sounds the system beep, whatever "Sound" says, and writes LastReason, if
//   any, as "h8sxwriter: REASON" on standard error) and then, whatever the
//   outcome, sets 19200 bit/s, 8N1, time-outs 0/0 and transfer sizes
//   10000/10000 without looking at their statuses.
#pragma once

#include <string>

class FormCore;

constexpr const char* kSettingsFileName = "vkp1622.par";

// The two candidate directories of the settings file, in order of preference.
// An empty entry is skipped.
struct SettingsPlaces {
    std::string executableDir;           // directory of the running executable
    std::string configDir;               // the user's configuration folder for the program
    bool executableDirIsSystem = false;  // read there, never created there
};

// True for the directories that hold installed programs: /bin, /sbin,
// /usr/bin, /usr/sbin, /usr/games and their /usr/local counterparts.
bool IsSystemProgramDir(const std::string& dir);

// The directories for this process: /proc/self/exe's directory (marked as a
// system one by IsSystemProgramDir) and $XDG_CONFIG_HOME/h8sxwriter (an
// absolute $XDG_CONFIG_HOME only), else $HOME/.config/h8sxwriter.
SettingsPlaces DefaultSettingsPlaces();

void FormShow(FormCore& form);
void FormShow(FormCore& form, const SettingsPlaces& places);
void OpenConverter(FormCore& form);
