// Options of the simulated board, as given on the command line with
// --sim=KEY=VALUE,KEY=VALUE,... (see the README for the keys).
#pragma once

#include <cstdint>
#include <string>

struct SimOptions {
    std::string flashPath;   // where the flash persists; empty: in memory only
    // (the model's other settings and faults are added with the model)
};

// Parses "KEY=VALUE,..." (an empty text gives the defaults) into *out.
// On an unknown key or a bad value returns false with a message in *error.
bool ParseSimOptions(const std::string& text, SimOptions* out, std::string* error);

// The default flash file: $XDG_CACHE_HOME/h8sxwriter/simflash.bin, else
// ~/.cache/h8sxwriter/simflash.bin.
std::string DefaultSimFlashPath();
