// The write of `write --rate`: the write command at one rate, or, with the
// fallback, at each of a list of rates from the highest down until one works.
//
// Contract
// - Each attempt runs the whole write command (bootmode/WriteCommand.h), from
//   the restart of the target, with the new-bit-rate command telling the
//   chip the attempt's rate and the clock, the converter following the chip's
//   real rate, and the clock checked against the chip's inquiry replies.
// - `stats` is what the form's transfer fills in (image/ProgramImage.h); it is
//   cleared before each attempt.
// - With fallBack, an attempt that failed the way a rate the two ends do not
//   share fails ("new bps rate err 10", or a garbled or checksum-error reply
//   during programming) is followed by one at the next rate, after the status
//   line said "bit rate R failed, again at R2". Any other failure, the last
//   rate, or an attempt without fallBack ends the write.
// - The result tells whether the write ended with the success message, the
//   rate of the last attempt and how many attempts ran.
#pragma once

#include "bootmode/BitRate.h"
#include "image/ProgramImage.h"

#include <cstdint>
#include <vector>

class FormCore;

struct RatedWrite {
    bool done = false;
    uint32_t bitRate = 0;   // the rate told in the last attempt
    uint32_t attempts = 0;
};

RatedWrite WriteAtRates(FormCore& form, const std::vector<RatePlan>& rates, const ClockSetup& clock, bool fallBack,
                        ProgramStats& stats);
