// Installs the simulated board on a TestForm's virtual clock for the length of
// a test and opens it as the start-up connection does: DeviceHandle holds the
// converter, the link runs at 19200 bit/s, 8N1. The board starts in its user
// program (blank flash unless the options name a file or the test loads one).
//
// The options' unplug-after count starts after the scope's own set-up calls.
// The destructor resets DeviceHandle and LastStatus and uninstalls the board.
#pragma once

#include "link/Driver.h"
#include "link/Provider.h"
#include "sim/SimBoard.h"
#include "sim/SimProvider.h"
#include "support/TestForm.h"

#include <memory>

struct SimScope {
    SimProvider* provider;
    SimBoard& board;

    explicit SimScope(TestForm& form, const SimOptions& options = SimOptions{})
        : provider(Install(form, options)), board(provider->Board()) {
        DeviceHandle = nullptr;
        LastStatus = 0;
        OpenBySerialNumber(kSimSerialNumber, OPEN_BY_SERIAL_NUMBER, &DeviceHandle);
        SetBaudRate(DeviceHandle, 19200);
        form.LinkRate = 19200;
        SetDataCharacteristics(DeviceHandle, BITS_8, STOP_BITS_1, PARITY_NONE);
        board.SetUnplugAfter(options.unplugAfter);
    }
    ~SimScope() {
        DeviceHandle = nullptr;
        LastStatus = 0;
        SetLinkProvider(nullptr);
    }
    SimScope(const SimScope&) = delete;
    SimScope& operator=(const SimScope&) = delete;

private:
    static SimProvider* Install(TestForm& form, SimOptions options) {
        options.unplugAfter = -1;  // armed once the scope is set up
        auto p = std::make_unique<SimProvider>(options, form.clock, false);
        SimProvider* raw = p.get();
        SetLinkProvider(std::move(p));
        return raw;
    }
};
