#pragma once

#include <windows.h>

#include "config/setup_config.h"
#include "core/step_result.h"
#include "utility/utility_plan.h"

// Moves the package's copy to its place in the cache and installs it with
// msiexec, into plan->targetFolder when there is one, again while Windows
// Installer answers 1618. msiexec's exit code classified (3010 and 1641 are
// done, with a restart), or the Windows error that kept it from starting.
StepResult InstallUtility(const SetupConfig& config, UtilityPlan* plan);

// Whether the install command, msiexec's full path included, holds folder as
// TARGETDIR.
bool CanInstallInto(const UtilityPlan& plan, const wchar_t* folder);

// Keeps msiexec /qn from restarting Windows by itself.
const wchar_t kSuppressRestart[] = L"REBOOT=ReallySuppress";
