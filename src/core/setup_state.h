#pragma once

#include <windows.h>

const int kPathCapacity = 260;
const int kDeviceNameCapacity = 64;
const int kVersionCapacity = 64;

// Process-wide state. Each field is written once, early, by the operation
// that owns it, and only read afterwards.
struct SetupState {
    HINSTANCE instanceHandle;
    int quietMode;
    wchar_t programDirectory[kPathCapacity];
    wchar_t setupFilePath[kPathCapacity];
    int debugEnabled;
    wchar_t logPath[kPathCapacity];
    int driverOnly;
    wchar_t packagePath[kPathCapacity];
    wchar_t productCode[kPathCapacity];
    wchar_t productVersion[kVersionCapacity];
    wchar_t previousInstallDir[kPathCapacity];
    int previousVersionRemoved;
    HWND progressWindow;
    wchar_t deviceHardwareId[kPathCapacity];
    // The export of the service settings while the utility is upgraded; empty
    // when nothing was exported.
    wchar_t settingsFile[kPathCapacity];
    // 1 when Windows Installer finished with a restart due (3010).
    int restartNeeded;
    // The registry view of the utility's keys: the one in which its
    // uninstall entry was found (KEY_WOW64_64KEY or KEY_WOW64_32KEY, as its
    // package was built); 0 until it is found.
    REGSAM utilityView;
    // The number of a package that could not be copied into the cache, which
    // the utility stage reports.
    int packageCopyResult;
    // 1 once the package's copy (packagePath) is the installed product's source.
    int packageCopyKept;
};

extern SetupState g_setup;

// Puts every field back to its start value, so that one process can run the
// setup sequence more than once (the rule-level tests do).
void ResetSetupState();

struct DriverEntry {
    wchar_t deviceName[kDeviceNameCapacity];
    wchar_t hardwareId[kPathCapacity];
    wchar_t infPath[kPathCapacity];
};
