// The boot-mode command sequence that follows a confirmed bit-rate
// adjustment: device inquiry with the device check, device selection, clock
// mode, ratio and frequency inquiries, the new bit rate on both sides, the
// erasure of the flash and the selection of the user memory area.
//
// Contract
// - RunBootSequence runs the stages from the device inquiry to the user-MAT
//   selection in order, each once, and returns Done when all passed (the link
//   then runs at the new rate, by default 38400 bit/s, the flash is erased and user-MAT programming is
//   selected) or TargetFailed at the first stage that failed, which has shown
//   its message and, unless it was "not H8SX1622", beeped. The caller holds LinkBusy set and has just seen the chip's
//   0xE6 at 19200 bit/s.
// - Each stage purges both queues, writes its frame in one call and waits for
//   its reply through the reply wait (bootmode/AwaitReply.h). The link moves
//   to the new rate at the start of the new bit rate's confirmation and stays
//   there, also when a later stage fails.
// - DeviceCheck is the test of the device inquiry's reply: over the given
//   bytes, each '1' and '6' weighs 1 and each '2' weighs 2; the chip is
//   accepted as soon as the weight exceeds 4, rejected if the bytes run out.
//   The sequence gives it the first 30 bytes of the first successful read of
//   more than 16 bytes.
// - BootRate sets what the new-bit-rate command tells the chip (the rate in
//   units of 100 bit/s, the input clock, the ratios) and the rate the link
//   moves to; the default is the window's: 38400 bit/s, 12.50 MHz, 4 and 2.
//   With checkClock the replies of the ratio and frequency inquiries are read
//   whole and the clock is checked against them: a ratio the chip does not
//   offer, or a clock outside its ranges, fails that stage with its message
//   and the reason ("cpu not answer 8: system clock 56.00 MHz ...").
#pragma once

#include "bootmode/BitRate.h"
#include "core/WriteOutcome.h"
#include "protocol/Protocol.h"

#include <cstddef>
#include <cstdint>

class FormCore;

struct BootRate {
    uint16_t rateUnits = proto::kNewBitRateUnits;
    ClockSetup clock;
    uint32_t hostRate = proto::kWriteBitRate;
    bool checkClock = false;
};

bool DeviceCheck(const uint8_t* bytes, size_t count);

WriteOutcome RunBootSequence(FormCore& form, const BootRate& rate = BootRate{});
