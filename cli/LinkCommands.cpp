// `reset`, `list` and `sim`: the small commands around the link.
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"

#include "bootmode/ResetLines.h"
#include "link/Provider.h"
#include "monitor/Monitor.h"
#include "sim/SimPty.h"

#include <cstdio>

int RunReset(const CliArgs& args) {
    LinkChoice link = args.link;
    if (int status = SetUpLink(link); status != kLinkReady) return status;
    ConsoleForm form;
    if (!ConnectAsStartUp(form)) return kExitFailure;
    // The program starts talking at once, and at the monitor's rate.
    UseMonitorRate(form);
    ResetTarget(form);
    return kExitOk;
}

int RunList(const CliArgs& args) {
    LinkChoice link = args.link;
    if (int status = SetUpLink(link); status != kLinkReady) return status;
    LinkProvider* provider = CurrentLinkProvider();
    const std::vector<LinkProvider::Entry> all = provider ? provider->List() : std::vector<LinkProvider::Entry>{};
    for (size_t i = 0; i < all.size(); ++i) std::printf("%zu\t%s\t%s\n", i, all[i].serial.c_str(), all[i].path.c_str());
    if (all.empty()) {
        const std::string reason = provider ? provider->Reason() : std::string();
        std::fprintf(stderr, "h8sxwriter: %s\n", reason.empty() ? "no converter found" : reason.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

int RunSim(const CliArgs& args) {
    // The board's options, with or without --sim.
    LinkChoice link = args.link;
    link.kind = LinkChoice::Kind::Sim;
    if (int status = CheckLink(link); status != kLinkReady) return status;
    return RunSimPty(args.ptyLink, link.sim);
}
