// Options of the simulated board, as given on the command line with
// --sim=KEY=VALUE,KEY=VALUE,... (the README lists the keys).
//
// A default-constructed SimOptions is what tests want: a healthy chip and a
// flash held in memory only. ParseSimOptions starts from the program's
// defaults instead, where the flash persists in DefaultSimFlashPath().
#pragma once

#include <cstdint>
#include <string>

// Stands for the end-of-programming command (0x50 FF FF FF FF B4) where a
// command byte is expected in errorCommand and garbleCommand.
constexpr int kSimEndCommand = 0x100;

struct SimOptions {
    // --- the board ---
    std::string flashPath;                   // flash=PATH; empty: in memory only
    uint32_t flashSize = 1u << 20;           // flash-size=N[K|M]; a multiple of 128
    int64_t startupMicros = 5000;            // startup-time=: a restarted chip listens after this
    int64_t bannerDelayMicros = 250000;      // banner-delay=: the user program greets after this
    int64_t eraseMicros = 500000;            // erase-time=: how long 0x40 erases
    int64_t programMicros = 1000;            // program-time=: per 128-byte block
    uint32_t crystalUnits = 1250;            // clock=MHZ: the board's real input clock, in 0.01 MHz
    int64_t latencyMicros = 1000;            // latency=: the converter's latency timer
    int syncZeros = 1;                       // sync-zeros=: 0x00 bytes measured before the chip answers
    std::string productName = "H8SX/1622F";  // product=: name in the device inquiry reply

    // --- faults ---
    bool silent = false;          // silent: the chip never sends anything
    bool noE6 = false;            // no-e6: 0x55 is answered with 0xFF
    int errorCommand = -1;        // error=CMD[:CODE]: this command gets an error reply
    int errorCode = -1;           //   with this code; -1: the command's usual code
    int garbleCommand = -1;       // garble=CMD: the reply to CMD arrives garbled
    uint32_t noReplyBlock = 0;    // no-reply-block=N: block N (1 = first) gets no reply
    int64_t unplugAfter = -1;     // unplug-after=N: every driver call after N fails
    uint32_t maxRate = 0;         // max-rate=BPS: every byte above this rate is garbled; 0: no limit
    int64_t corruptAddress = -1;  // corrupt=ADDR[:VALUE]: the byte at ADDR is not programmed
    int corruptValue =
        -1;  //   as sent but keeps VALUE; -1: the programmed byte with bit 0 flipped to 1 (or to 0 if it is 1)

    // --- wiring, set by the pty mode (no key) ---
    // No modem lines: the chip starts in boot mode, and after acknowledging
    // the end command it restarts into the user program by itself.
    bool noModemLines = false;
};

// Parses "KEY=VALUE,..." into *out, starting from the program's defaults (an
// empty text gives them). On an unknown key or a bad value returns false with
// a message in *error; *out is then unspecified.
bool ParseSimOptions(const std::string& text, SimOptions* out, std::string* error);

// The default flash file: $XDG_CACHE_HOME/h8sxwriter/simflash.bin when that
// variable holds an absolute path, else ~/.cache/h8sxwriter/simflash.bin.
std::string DefaultSimFlashPath();
