// Where converters come from: the listing and the open of the driver layer.
// Exactly one provider is installed at a time; the program installs it at
// start-up from its command line (--port, --sim, or the default scan for FTDI
// converters), tests install their own.
//
// The provider owns every device it opens; the devices live until the
// provider is replaced (which in the program never happens: the converter is
// never closed).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "link/Device.h"

struct LinkProvider {
    virtual ~LinkProvider() = default;

    struct Entry {
        std::string serial;  // the converter's serial number
        std::string path;    // where it lives (device path), for listings
    };

    // All converters, in the provider's stable order; index 0 is the first.
    virtual std::vector<Entry> List() = 0;
    // Opens the first converter whose serial number equals `serial` or begins
    // with it. On success stores the device in *device (owned by the
    // provider) and returns LINK_OK.
    virtual uint32_t Open(const std::string& serial, LinkDevice** device) = 0;
    // Why the last List came back empty or the last Open failed, in words for
    // the operator (the device path and the operating system's reason, for
    // instance); empty when the provider has nothing to add.
    virtual std::string Reason() const { return std::string(); }
};

// Installs the provider used by ListSerialNumber and OpenBySerialNumber.
// Replacing a provider destroys the devices it opened; the caller then resets
// DeviceHandle itself.
void SetLinkProvider(std::unique_ptr<LinkProvider> provider);
LinkProvider* CurrentLinkProvider();
