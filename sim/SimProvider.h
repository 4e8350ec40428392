// The simulated board as a backend of the driver layer: a provider that lists
// one converter and opens it onto the board model.
//
// List() gives one entry {kSimSerialNumber, "sim"}; Open(serial) succeeds for
// a non-empty serial that kSimSerialNumber begins with, and always hands out
// the same device. Once the board is unplugged (unplug-after) the list is
// empty and the open fails.
//
// realTime true: the board runs on `clock` as real time and its device offers
// a timer descriptor (LinkEventFd) that becomes readable when the next byte or
// event falls due; LinkService takes the expiry and advances the board.
// realTime false: virtual time; the device reports the next due moment
// through LinkNextDue and the test host moves `clock` forward. Either way the
// board is advanced to the clock at the start of every device operation.
#pragma once

#include "link/Provider.h"
#include "sim/Clock.h"
#include "sim/SimBoard.h"
#include "sim/SimOptions.h"

#include <memory>

// The simulated converter's serial number: nine characters, so the open by
// its first eight is exercised.
constexpr const char* kSimSerialNumber = "SIM1622A1";

class SimProvider : public LinkProvider {
public:
    SimProvider(const SimOptions& options, Clock& clock, bool realTime);
    ~SimProvider() override;

    std::vector<Entry> List() override;
    uint32_t Open(const std::string& serial, LinkDevice** device) override;

    SimBoard& Board();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
