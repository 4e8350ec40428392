#include "core/BoardState.h"

#include <cstdio>

BoardState BoardStateAfter(const WriteOutcome& outcome) {
    switch (outcome.result) {
    case WriteResult::Done: return BoardState::RunningNewProgram;
    case WriteResult::FileRefused:
    case WriteResult::LinkFailed:
    case WriteResult::Busy: return BoardState::Untouched;
    case WriteResult::Cancelled: return BoardState::RestartedErased;
    case WriteResult::VerifyFailed: return BoardState::RestartedVerifyFailed;
    case WriteResult::TargetFailed:
    case WriteResult::Interrupted: break;
    }
    const bool stopped = outcome.result == WriteResult::Interrupted;
    // Programming was finished when the verify began.
    if (stopped && outcome.stage == WriteStage::Verify) return BoardState::BootModeProgrammed;
    if (stopped && outcome.stage == WriteStage::None) return BoardState::Untouched;
    if (outcome.stage < WriteStage::Erase) return BoardState::BootModeKept;
    if (outcome.stage == WriteStage::Erase) return BoardState::BootModeErasing;
    if (outcome.stage == WriteStage::UserMatSelect) return BoardState::BootModeErased;
    if (stopped) return outcome.programmedTo == 0 ? BoardState::BootModeErased : BoardState::BootModePartial;
    return BoardState::RestartedPartial;
}

const char* BoardStateName(BoardState state) {
    switch (state) {
    case BoardState::Untouched: return "untouched";
    case BoardState::BootModeKept: return "boot-mode-kept";
    case BoardState::BootModeErasing: return "boot-mode-erasing";
    case BoardState::BootModeErased: return "boot-mode-erased";
    case BoardState::BootModePartial: return "boot-mode-partial";
    case BoardState::RestartedPartial: return "restarted-partial";
    case BoardState::RestartedErased: return "restarted-erased";
    case BoardState::RunningNewProgram: return "running-new-program";
    case BoardState::BootModeProgrammed: return "boot-mode-programmed";
    case BoardState::RestartedVerifyFailed: return "restarted-verify-failed";
    case BoardState::Unknown: break;
    }
    return "unknown";
}

std::string DescribeBoard(BoardState state, std::optional<uint32_t> programmedTo) {
    std::string upTo;
    if (programmedTo) {
        char buf[32];
        std::snprintf(buf, sizeof buf, " up to address 0x%08X", *programmedTo);
        upTo = buf;
    }
    const std::string recover = "; the next write recovers it ('h8sxwriter reset' only leaves boot mode)";
    switch (state) {
    case BoardState::Untouched: return "untouched";
    case BoardState::BootModeKept:
        return "in boot mode, its flash not erased; the next write or 'h8sxwriter reset' recovers it";
    case BoardState::BootModeErasing: return "in boot mode, its flash possibly partly erased" + recover;
    case BoardState::BootModeErased: return "in boot mode, its flash erased" + recover;
    case BoardState::BootModePartial: return "in boot mode, holding a partial image" + upTo + recover;
    case BoardState::RestartedPartial: return "restarted into a partial image" + upTo + "; the next write recovers it";
    case BoardState::RestartedErased: return "restarted with its flash erased; the next write recovers it";
    case BoardState::RunningNewProgram: return "running the new program";
    case BoardState::BootModeProgrammed:
        return "in boot mode, holding the whole image, its verify not finished; the next write recovers it "
               "('h8sxwriter reset' starts the image unverified)";
    case BoardState::RestartedVerifyFailed:
        return "restarted into the image just written, which failed its verify; the next write recovers it";
    case BoardState::Unknown: break;
    }
    return "in an unknown state; the next write recovers it";
}
