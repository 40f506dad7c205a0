#pragma once

#include <windows.h>

// Installs the package with msiexec, into the previous folder after a removal,
// and then carries the service settings over. The install command's exit code,
// the Windows error that kept it from starting, or 87 without a package.
int InstallUtil();

// The full path of name in the temporary folder (the current folder when
// there is none that fits). 0 when the path does not fit.
int GetTempFilePath(wchar_t* path, const wchar_t* name);

// Export and import of the utility service's Settings key through the
// registry editor. 1 when the editor ran, whatever its exit code.
int SaveServiceSettings();
int RestoreServiceSettings();

// net stop, then net start zelmsvc. 1 when both ran and succeeded.
int RestartService();

const int kNoInstallPackage = 87;
