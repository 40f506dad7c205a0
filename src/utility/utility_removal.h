#pragma once

#include <windows.h>

#include "config/setup_config.h"
#include "core/step_result.h"
#include "system/child_process.h"
#include "utility/utility_plan.h"

// The removal of the installed utility by the uninstall command that Windows
// Installer stored for it.

// The command (of kCommandCapacity) that removes the installed utility and
// its program, as CreateProcessW's application name (of kPathCapacity); an
// empty command when none is stored. ERROR_SUCCESS, or why the stored command
// is refused before anything changes: 161 for a program outside the system
// folders or not there, 206 for a command that does not fit.
int ReadUninstallCommand(const UtilityPlan& plan, wchar_t* command, wchar_t* application);

// Runs the removal, again while Windows Installer answers 1618.
StepResult RunRemoval(const SetupConfig& config, const wchar_t* application, const wchar_t* command);
