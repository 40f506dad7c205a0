#pragma once

#include <windows.h>

// The one place where the 32-bit and the 64-bit build differ: the 64-bit
// build does the work on 64-bit Windows, where the 32-bit build only hands
// over to it and installs the package named by MSI64 when there is one.
bool Is64BitBuild();

// true for a 32-bit process on 64-bit Windows.
bool IsRunningUnderWow64();
