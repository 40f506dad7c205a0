#pragma once

#include <windows.h>

// 1 when the Windows Installer knows the product of productCode; version then
// holds its DisplayVersion, or is empty. 0 when it does not. 2 when its
// DisplayVersion is too long to be read whole.
int GetInstalledUtilityVersion(wchar_t* version);

// Every character but "." counts as a digit by its code.
void ParseUtilityVersion(const wchar_t* text, int parts[4]);

// 1 when productVersion is newer than the installed version text.
int IsNewerUtilityVersion(const wchar_t* installedVersion);

// Parent folder of the utility's InstallationDirectory, without trailing "\".
int GetPreviousInstallDir(wchar_t* folder);

// Exports the service settings and runs the installed product's uninstall
// command. 0 when removed (also when Windows Installer asks for a restart) or
// nothing to remove; 1641 when removed and Windows is already restarting (the
// export kept); otherwise the number of the failed export, the command's
// exit code, or the Windows error that kept it from starting or refused it.
int UninstallUtil();

const int kInstalledVersionCapacity = 64;
const int kInstalledVersionUnreadable = 2;
