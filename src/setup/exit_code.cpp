#include "setup/exit_code.h"

#include "core/process_state.h"
#include "log/debug_log.h"

namespace {

DWORD DoneExitCode(Restart restart, const SetupConfig& config)
{
    if (restart == kRestartUnderway) {
        return ERROR_SUCCESS_REBOOT_INITIATED;
    }
    // An interactive run has asked about the restart; a quiet one tells the
    // deployment tool, when Inst.Inf says how.
    if (restart == kRestartDue && g_process.quiet && config.restartExitCode != 0) {
        // Any other number would tell a deployment tool something else: 1641,
        // that Windows is restarting already.
        if (config.restartExitCode != static_cast<int>(ERROR_SUCCESS_REBOOT_REQUIRED)) {
            LogMessage(L"RestartExitCode %d ignored: only 0 or 3010", config.restartExitCode);
            return kExitSuccess;
        }
        LogMessage(L"Restart needed, exit code %d", config.restartExitCode);
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    }
    return kExitSuccess;
}

}  // namespace

DWORD ToExitCode(const RunOutcome& outcome, const SetupConfig& config)
{
    switch (outcome.ending) {
        case kEndedDone:
            return DoneExitCode(outcome.restart, config);
        case kEndedNoSetupFile:
            return kExitNoSetupFile;
        case kEndedDeclined:
            return kExitDeclined;
        case kEndedBadOption:
        case kEndedRefused:
            return kExitRefused;
        case kEndedHandedOver:
        case kEndedChecked:
            return outcome.number;
        case kEndedFailed:
        default:
            break;
    }
    if (outcome.number >= kExitNoSetupFile && outcome.number <= kExitRefused) {
        LogMessage(L"Failed with %d, reported as %d", static_cast<int>(outcome.number),
                   static_cast<int>(kExitStepFailed));
        return kExitStepFailed;
    }
    return outcome.number;
}
