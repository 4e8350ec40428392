// The write of `write --rate`: the write command at one rate, or, with the
// fallback, at each of a list of rates from the highest down until one works.
//
// Contract
// - Each attempt runs the whole write command (bootmode/WriteCommand.h), from
//   the restart of the target, with `transfer` as its transfer phase, the
//   new-bit-rate command telling the chip the attempt's rate and the clock,
//   the converter following the chip's real rate, and the clock checked
//   against the chip's inquiry replies.
// - With fallBack, an attempt whose outcome is rateSuspect ("new bps rate
//   err 10", or a garbled or checksum-error reply during programming) is
//   followed by one at the next rate, after the status line said "bit rate R
//   failed, again at R2". Any other outcome, the last rate, or an attempt
//   without fallBack ends the write.
// - The result is the last attempt's outcome; its bitRate is the rate of
//   that attempt. *attempts (when given) counts the attempts.
#pragma once

#include "bootmode/BitRate.h"
#include "bootmode/WriteCommand.h"
#include "core/WriteOutcome.h"

#include <cstdint>
#include <vector>

class FormCore;

WriteOutcome WriteAtRates(FormCore& form, const TransferStep& transfer, const std::vector<RatePlan>& rates,
                          const ClockSetup& clock, bool fallBack, uint32_t* attempts = nullptr);
