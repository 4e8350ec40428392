#include "cli/LinkSetup.h"

#include "session/Connection.h"
#include "core/FormCore.h"
#include "session/LinkChoice.h"
#include "link/Driver.h"
#include "sim/SimOptions.h"

namespace {

bool ToChoice(const LinkArgs& link, LinkChoice* choice, std::string* error) {
    switch (link.kind) {
        case LinkArgs::Kind::Scan: choice->kind = LinkChoice::Kind::Scan; return true;
        case LinkArgs::Kind::Port:
            choice->kind = LinkChoice::Kind::Port;
            choice->port = link.port;
            return true;
        case LinkArgs::Kind::Sim:
            choice->kind = LinkChoice::Kind::Sim;
            return ParseSimOptions(link.simOptions, &choice->sim, error);
    }
    return false;
}

}  // namespace

bool CheckLink(const LinkArgs& link, std::string* error) {
    LinkChoice choice;
    return ToChoice(link, &choice, error);
}

bool InstallLink(const LinkArgs& link, std::string* error) {
    LinkChoice choice;
    if (!ToChoice(link, &choice, error)) return false;
    if (!InstallLinkChoice(choice)) {
        *error = "the link could not be set up";
        return false;
    }
    return true;
}

bool ConnectAsStartUp(FormCore& form) {
    FormShow(form);
    return DeviceHandle != nullptr;
}
