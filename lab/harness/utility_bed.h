// The ZELMON utility on the test machine: its packages (packages\ beside the
// test programs, from lab/packages), msiexec, its registry and its service.
#pragma once

#include <string>
#include <vector>

#include "testbed.h"

namespace testbed {

inline constexpr wchar_t kZelmonProductCode[] = L"{6D1B2C8E-3F4A-4E57-9A1C-2B7E5D0F9A31}";
inline constexpr wchar_t kZelmonOld[] = L"ZelmonUtility-1.2.9.msi";
inline constexpr wchar_t kZelmonNew[] = L"ZelmonUtility-1.2.10.msi";
inline constexpr wchar_t kZelmonFailInstall[] = L"ZelmonUtility-1.2.10-failinstall.msi";  // ends with 1603
inline constexpr wchar_t kZelmonFailRemoval[] = L"ZelmonUtility-1.2.9-failremoval.msi";   // unless FORCEREMOVAL=1
inline constexpr wchar_t kZelmonNoStart[] = L"ZelmonUtility-1.2.10-nostart.msi";          // the service is not started
inline constexpr wchar_t kZelmonRestartRemoval[] = L"ZelmonUtility-1.2.9-restartremoval.msi";   // removal: 3010
inline constexpr wchar_t kZelmonRestartInstall[] = L"ZelmonUtility-1.2.10-restartinstall.msi";  // install: 3010
inline constexpr wchar_t kZelmonNoVersion[] = L"ZelmonUtility-noversion.msi";
inline constexpr wchar_t kZelmonVersion64[] = L"ZelmonUtility-version64.msi";  // a version of 64 characters
inline constexpr wchar_t kZelmonOldX64[] = L"ZelmonUtility-1.2.9-x64.msi";
inline constexpr wchar_t kZelmonNewX64[] = L"ZelmonUtility-1.2.10-x64.msi";
inline constexpr wchar_t kZelmonFailInstallX64[] = L"ZelmonUtility-1.2.10-failinstall-x64.msi";
inline constexpr wchar_t kZelmonOldVersion[] = L"1.2.9";
inline constexpr wchar_t kZelmonNewVersion[] = L"1.2.10";
inline constexpr wchar_t kZelmonServiceName[] = L"zelmsvc";
inline constexpr wchar_t kZelmonKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc";
inline constexpr wchar_t kZelmonSettingsKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings";

std::wstring PackagePath(const std::wstring& name);
// msiexec.exe /i "<msiPath>" /qn <properties>: its exit code, 0xFFFFFFFF when
// it could not start, 0xDEADBEEF when it was killed.
DWORD InstallPackage(const std::wstring& msiPath, const std::wstring& properties = std::wstring());
// No trace left: the product (even one whose removal fails), its service and
// the one that depends on it,
// HKLM\SOFTWARE\VANTIRO in both views and the folders given.
bool RemoveZelmon(const std::vector<std::wstring>& folders = std::vector<std::wstring>());

// The Uninstall entry setup.exe reads, in the view of the package's platform.
struct UninstallEntry {
    bool exists = false;
    std::wstring displayVersion;
    std::wstring uninstallString;
    DWORD uninstallStringType = REG_NONE;
};
UninstallEntry ReadUninstallEntry(const std::wstring& productCode);
// Rewrites one value of that entry; REG_NONE deletes it.
bool SetUninstallValue(const std::wstring& productCode, const std::wstring& name, const std::wstring& value,
                       DWORD type = REG_SZ);

// In a registry view: KEY_WOW64_64KEY, KEY_WOW64_32KEY (x86 packages) or 0 for ours.
std::wstring InstallationDirectory(REGSAM view = 0);
bool SetInstallationDirectory(const std::wstring& value, REGSAM view = 0);
// A value under kZelmonSettingsKey, REG_DWORD in decimal.
std::wstring ReadSetting(const std::wstring& name, bool* exists = nullptr, REGSAM view = 0);
bool WriteSetting(const std::wstring& name, const std::wstring& value, REGSAM view = 0);
bool ZelmonKeyExists(REGSAM view);

// A regedit.exe double in the system folder, where setup.exe looks first. For
// exports (/e) and imports (/s): L"fail <n>" exits with n and does nothing,
// L"empty" (exports) leaves an empty file, L"nothing" (imports) exits with 0
// and does nothing, L"" hands on to the real one.
bool UseRegeditDouble(const std::wstring& exportBehaviour, const std::wstring& importBehaviour);
bool StopUsingRegeditDouble();
// An msiexec.exe double in the system folder in place of Wine's, which it
// hands every command to; L"1641" for the removal (/X) or the install (/I):
// it answers 1641 once that command succeeded; L"1618 <n>": it answers 1618
// to the next n such commands without running them (L"1618": to every one).
// Wine's own is put back after.
bool UseMsiexecDouble(const std::wstring& removal, const std::wstring& install);
bool StopUsingMsiexecDouble();
// The double's calls, oldest first: "<current folder>\t<command line>".
std::vector<std::wstring> ReadMsiexecDoubleCalls();

bool IsServiceRunning(const std::wstring& serviceName);
// A value of the setup's run record, HKLM\SOFTWARE\VANTIRO\RAID Setup in the
// 64-bit view; a REG_DWORD in decimal; "(none)" when it is not there.
std::wstring ReadRunRecord(const std::wstring& name);
// A service that depends on zelmsvc: the utility's zelmsvc.exe copied into
// folder and run as kZelmonDependentName, started. RemoveZelmon removes it.
inline constexpr wchar_t kZelmonDependentName[] = L"zelmdep";
bool StartDependentService(const std::wstring& zelmsvcExe, const std::wstring& folder);
// The system folder's <name> replaced by replacement, Wine's own kept aside
// and preferred to its builtin; put back by RestoreSystemProgram.
bool ReplaceSystemProgram(const std::wstring& name, const std::wstring& replacement);
bool RestoreSystemProgram(const std::wstring& name);
// The "started" lines of zelmsvc.log in folder.
size_t ServiceStarts(const std::wstring& folder);

}  // namespace testbed
