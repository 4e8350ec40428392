// `erase`: erases the target's flash on purpose, with the write's own way in
// and out.
//
// 1. Check and install the link, and connect as the start-up does.
// 2. Run the write command with the blank check in place of the transfer: the
//    restarts, the bit-rate adjustment and the boot-mode sequence up to the
//    erase and the user-area selection, with the window's messages; then the
//    blank check of the user area (0x4D) and its outcome; then the restart of
//    the target (which, with an erased flash, runs nothing).
// 3. Exit status 0 only when the blank check passed, 1 for a failed stage or
//    blank check, 2 for a usage error.
#include "cli/Commands.h"
#include "cli/ConsoleForm.h"
#include "cli/LinkSetup.h"

#include "bootmode/FlashVerify.h"
#include "bootmode/WriteCommand.h"

int RunErase(const CliArgs& args) {
    LinkChoice link = args.link;
    if (int status = SetUpLink(link); status != kLinkReady) return status;
    ConsoleForm form(VerbosityOf(args));
    if (!ConnectAsStartUp(form)) {
        form.Finish();
        return ExitStatusOf(WriteOutcome::Of(WriteResult::LinkFailed));
    }

    const WriteOutcome outcome = Button1Click(form, [](FormCore& f) { return CheckErased(f); });
    form.Finish();
    return ExitStatusOf(outcome);
}
