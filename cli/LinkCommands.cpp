// `reset`, `list` and `sim`: the small commands around the link.
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"

#include "bootmode/ResetLines.h"
#include "link/Provider.h"
#include "monitor/Monitor.h"
#include "sim/SimOptions.h"
#include "sim/SimPty.h"

#include <cstdio>

namespace {

// Checks and installs the link; the exit status on failure, -1 on success.
int SetUpLink(const LinkArgs& link) {
    std::string error;
    if (!CheckLink(link, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!InstallLink(link, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        return kExitFailure;
    }
    return -1;
}

}  // namespace

int RunReset(const CliArgs& args) {
    if (int status = SetUpLink(args.link); status >= 0) return status;
    ConsoleForm form;
    if (!ConnectAsStartUp(form)) return kExitFailure;
    // The program starts talking at once, and at the monitor's rate.
    UseMonitorRate(form);
    ResetTarget(form);
    return kExitOk;
}

int RunList(const CliArgs& args) {
    if (int status = SetUpLink(args.link); status >= 0) return status;
    LinkProvider* provider = CurrentLinkProvider();
    const std::vector<LinkProvider::Entry> all = provider ? provider->List() : std::vector<LinkProvider::Entry>{};
    for (size_t i = 0; i < all.size(); ++i)
        std::printf("%zu\t%s\t%s\n", i, all[i].serial.c_str(), all[i].path.c_str());
    if (all.empty()) {
        std::fprintf(stderr, "h8sxwriter: no converter found\n");
        return kExitFailure;
    }
    return kExitOk;
}

int RunSim(const CliArgs& args) {
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(args.link.simOptions, &options, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        return kExitUsage;
    }
    return RunSimPty(args.ptyLink, options);
}
