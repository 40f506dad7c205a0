#include "setup/os_requirement.h"

#include <stdlib.h>
#include <wchar.h>

#include "core/platform.h"
#include "log/debug_log.h"
#include "config/setup_config.h"

bool IsOsRequirementMet(const wchar_t* requirement, DWORD major, DWORD minor, BOOL wow64)
{
    const wchar_t* dot = wcschr(requirement, L'.');
    if (requirement[0] == L'\0' || dot == NULL) {
        return true;
    }
    DWORD requiredMajor = static_cast<DWORD>(wcstol(requirement, NULL, 10));
    DWORD requiredMinor = static_cast<DWORD>(wcstol(dot + 1, NULL, 10));
    if (requiredMajor >= 6 && wow64) {
        return false;
    }
    if (requiredMajor != major) {
        return requiredMajor < major;
    }
    return minor >= requiredMinor;
}

bool CheckOsRequirement(const SetupConfig& config)
{
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    // The manifest's supportedOS entries make this report the real version on
    // Windows 8.1 and later instead of 6.2.
    if (!GetVersionExW(&version)) {
        return true;
    }
    BOOL wow64 = IsRunningUnderWow64() ? TRUE : FALSE;
    bool met = IsOsRequirementMet(config.osRequirement, version.dwMajorVersion, version.dwMinorVersion, wow64);
    if (!met) {
        LogMessage(L"Windows %lu.%lu%s does not meet OSVER %s", version.dwMajorVersion, version.dwMinorVersion,
                   wow64 ? L" (32-bit program on 64-bit Windows)" : L"", config.osRequirement);
    }
    return met;
}
