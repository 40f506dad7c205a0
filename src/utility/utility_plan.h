#pragma once

#include <windows.h>

#include "core/process_state.h"
#include "utility/settings_carry_over.h"

// How the installed utility stands to the package.
enum InstalledState { kNotInstalled, kInstalledOlder, kInstalledCurrent, kInstalledUnreadable };

// The installed version is read into 64 bytes, with room for a terminator beyond.
const int kInstalledVersionCapacity = 33;

// The utility stage as one value, handed from step to step: the package's
// copy and properties, what is installed, where the new version goes, and the
// carry-over of the service settings.
struct UtilityPlan {
    wchar_t package[kPathCapacity];  // the package's copy: staged, then in the cache
    DWORD packageCopyError;          // why there is no copy
    bool packageKept;                // the copy is the installed product's source
    wchar_t productCode[kPathCapacity];
    wchar_t packageVersion[kVersionCapacity];
    InstalledState installed;
    wchar_t installedVersion[kInstalledVersionCapacity];
    REGSAM view;                          // the registry view of the installed utility's keys
    wchar_t targetFolder[kPathCapacity];  // TARGETDIR: the old version's parent folder; empty: the package's own
    CarryOver carryOver;
};
