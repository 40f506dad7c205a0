#pragma once

#include <windows.h>

#include "config/setup_config.h"
#include "core/step_result.h"
#include "system/child_process.h"

// Windows Installer runs one installation at a time: while another one runs,
// msiexec ends at once with 1618 and does nothing. The run waits for it, up to
// the seconds of InstallerWait in Inst.Inf.

// Before the utility stage changes anything, waits while another installation
// runs, with the progress window's text progressText. Done when Windows
// Installer is free, or when InstallerWait is 0; failed with 1618 when it is
// still busy.
StepResult WaitForWindowsInstaller(const SetupConfig& config, UINT progressText);

// Whether another installation holds Windows Installer now, by one test of
// its mutex, without waiting.
bool IsWindowsInstallerBusy();

// Runs an installer (msiexec, or an uninstall program that hands on to it):
// application with command, a fresh copy of it for each try, since
// CreateProcessW may change it. A try that Windows Installer answers with
// 1618 did nothing and is made again once Windows Installer is free, within
// InstallerWait seconds of the first. The installer's exit code classified, or
// the Windows error that kept it from starting.
StepResult RunInstaller(const SetupConfig& config, const wchar_t* application, const wchar_t* command,
                        const ChildLogTexts& texts);
