#pragma once

#include <windows.h>

#include "config/setup_config.h"
#include "core/step_result.h"
#include "utility/utility_stage.h"

// How a run ended.
enum Ending {
    kEndedDone,         // the work is done, or there was none
    kEndedNoSetupFile,  // Inst.Inf not found beside the program
    kEndedDeclined,     // the user answered No
    kEndedBadOption,    // an argument that is no option: the run ends before it looks at anything
    kEndedRefused,      // the OS, the controller or an entry ruled the run out
    kEndedFailed,       // a step failed with number
    kEndedHandedOver,   // setup64.exe did the run and ended with number
    kEndedChecked,      // a check (/C) found what a run would do: number 0 or kExitCheckWouldChange
};

struct RunOutcome {
    Ending ending;
    DWORD number;
    Restart restart;
    UtilityAction utility;  // what the utility stage did
    bool driverUpdated;     // the driver was updated by this run
    const wchar_t* reason;  // why the run was refused or failed, in a few words; NULL: none given
    bool check;             // the run only checked (/C): it has its own record
};

inline RunOutcome Ended(Ending ending, DWORD number = 0, const wchar_t* reason = NULL)
{
    return {ending, number, kNoRestart, kUtilityUntouched, false, reason, false};
}

// The exit code of a run, the one place that decides it:
//   done: 0; 1641 when Windows is restarting already; RestartExitCode for a
//     quiet run that leaves a restart due;
//   1 no Inst.Inf, 2 No, 3 refused: the setup's own answers, and only those;
//   failed: the step's number, but 1603 for a number 1, 2 or 3, which would
//     read as one of the answers above (logged);
//   handed over: setup64.exe's exit code;
//   checked: 0 when a run would change nothing, kExitCheckWouldChange when it
//     would.
DWORD ToExitCode(const RunOutcome& outcome, const SetupConfig& config);

const DWORD kExitSuccess = 0;
const DWORD kExitNoSetupFile = 1;
const DWORD kExitDeclined = 2;
const DWORD kExitRefused = 3;
const DWORD kDriverPassFailed = 87;
// ERROR_INSTALL_FAILURE, for a step that failed with a number of 1, 2 or 3.
const DWORD kExitStepFailed = 1603;
// A check found that a run would install or update something.
const DWORD kExitCheckWouldChange = 100;
