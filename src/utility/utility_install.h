#pragma once

#include <windows.h>

// Installs the package with msiexec, into the previous folder after a removal,
// and then carries the service settings over. 0 when installed (also when
// Windows Installer asks for a restart); 1641 when Windows is already
// restarting (the settings imported, the service left alone); otherwise the
// install command's exit code, the Windows error that kept it from starting
// (258: a registry editor that did not end), the number of a failed
// settings import or service start, or 87 without a package.
int InstallUtil();

// Whether the install command, msiexec's full path included, holds folder
// as TARGETDIR.
bool CanInstallInto(const wchar_t* folder);

// Exports the utility service's Settings key into a folder of its own that
// only administrators can reach. 0 when exported, or when there are no
// settings to carry over; otherwise the number of the failure, and nothing is
// left behind.
int SaveServiceSettings();

// Imports the exported settings and removes their folder. 0 when imported;
// otherwise the number of the failure, and the export is kept and its path
// logged: after the removal it is the only copy of the settings.
int RestoreServiceSettings();

// Removes the exported settings and their folder, when there are any.
void DiscardServiceSettings();

// Keeps the exported settings for the administrator and logs where they are.
void KeepServiceSettings();

// Windows Installer's success that leaves a restart due (3010). Its 1641 says
// that Windows is restarting already.
bool IsRestartCode(DWORD exitCode);

// Says in the log why the run ends at once after a 1641.
void LogRestartUnderway();

// Keeps msiexec /qn from restarting Windows by itself.
const wchar_t kSuppressRestart[] = L"REBOOT=ReallySuppress";

const int kNoInstallPackage = 87;
