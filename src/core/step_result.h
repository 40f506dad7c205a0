#pragma once

#include <windows.h>

// A restart that a step leaves behind.
enum Restart { kNoRestart, kRestartDue, kRestartUnderway };

// What a step did: 0, or the number of its failure (a Windows error, or the
// exit code of the program it ran), beside the restart it left.
struct StepResult {
    DWORD error;
    Restart restart;
};

inline StepResult StepDone(Restart restart = kNoRestart)
{
    return {ERROR_SUCCESS, restart};
}

inline StepResult StepFailed(DWORD error)
{
    return {error, kNoRestart};
}

// The weightier of two restarts: one under way outranks one that is due.
inline Restart LaterRestart(Restart first, Restart second)
{
    return first > second ? first : second;
}

// An installer's exit code (msiexec's, or an uninstall program's) as a step's
// result: 0 done; 3010 done, a restart due; 1641 done, Windows restarting
// already; anything else failed with that number, 1618 (another installation
// runs, nothing was done) among it.
StepResult ClassifyInstallerExit(DWORD exitCode);
