#include "core/step_result.h"

StepResult ClassifyInstallerExit(DWORD exitCode)
{
    switch (exitCode) {
        case ERROR_SUCCESS:
            return StepDone();
        case ERROR_SUCCESS_REBOOT_REQUIRED:
            return StepDone(kRestartDue);
        case ERROR_SUCCESS_REBOOT_INITIATED:
            return StepDone(kRestartUnderway);
        default:
            return StepFailed(exitCode);
    }
}
