#include "cli/LinkSetup.h"

#include "cli/Commands.h"
#include "link/Driver.h"
#include "session/Connection.h"

#include <cstdio>
#include <string>

namespace {

int Report(const std::string& error, int status) {
    std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
    return status;
}

}  // namespace

int CheckLink(LinkChoice& link) {
    std::string error;
    return CheckLinkChoice(link, &error) ? kLinkReady : Report(error, kExitUsage);
}

int InstallLink(const LinkChoice& link) {
    return InstallLinkChoice(link) ? kLinkReady : Report("the link could not be set up", kExitFailure);
}

int SetUpLink(LinkChoice& link) {
    const int checked = CheckLink(link);
    return checked != kLinkReady ? checked : InstallLink(link);
}

bool ConnectAsStartUp(FormCore& form) {
    FormShow(form);
    return DeviceHandle != nullptr;
}
