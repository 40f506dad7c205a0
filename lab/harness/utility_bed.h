// The ZELMON utility on the test machine: its packages (built from
// lab/packages into packages\ beside the test programs), installed and
// removed by the real msiexec, the registry it leaves, and its zelmsvc service.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testbed {

// One ProductCode for every package, old and new, x86 and x64 alike.
extern const wchar_t kZelmonProductCode[];
// Package file names under PackagePath(); all install zelmsvc.exe into
// <TARGETDIR>\ZELMON\ (TARGETDIR defaults to %ProgramFiles%\VANTIRO\). The
// 64-bit build makes the x64 packages, <name>-x64.msi, which write the 64-bit
// registry view; its packages folder also holds the x86 ones of the 32-bit
// build, which write the 32-bit view.
extern const wchar_t kZelmonOld[];          // 1.2.9
extern const wchar_t kZelmonNew[];          // 1.2.10
extern const wchar_t kZelmonFailInstall[];  // 1.2.10; its install ends with 1603
extern const wchar_t kZelmonFailRemoval[];  // 1.2.9; its removal ends with 1603 unless FORCEREMOVAL=1
extern const wchar_t kZelmonNoStart[];      // 1.2.10; installs zelmsvc without starting it
extern const wchar_t kZelmonRestartRemoval[];  // 1.2.9; its removal ends with 3010
extern const wchar_t kZelmonRestartInstall[];  // 1.2.10; its install ends with 3010
extern const wchar_t kZelmonNoVersion[];    // no ProductVersion row
extern const wchar_t kZelmonVersion63[];    // ProductVersion of 63 characters
extern const wchar_t kZelmonVersion64[];    // ProductVersion of 64 characters
extern const wchar_t kZelmonOldX64[];         // 1.2.9, x64
extern const wchar_t kZelmonNewX64[];         // 1.2.10, x64
extern const wchar_t kZelmonFailInstallX64[];  // 1.2.10, x64; its install ends with 1603
extern const wchar_t kZelmonOldVersion[];   // L"1.2.9"
extern const wchar_t kZelmonNewVersion[];   // L"1.2.10"
extern const wchar_t kZelmonServiceName[];  // L"zelmsvc"
extern const wchar_t kZelmonKey[];          // HKLM SOFTWARE\VANTIRO\ZELMON\Zelmsvc
extern const wchar_t kZelmonSettingsKey[];  // HKLM SOFTWARE\VANTIRO\ZELMON\Zelmsvc\Settings
// Exit code of the helpers below when msiexec could not be started at all.
const DWORD kNotStarted = 0xFFFFFFFF;

// packages\<name> in the folder of the running test program.
std::wstring PackagePath(const std::wstring& name);
// %ProgramFiles%\VANTIRO\ZELMON\, where a package goes without TARGETDIR.
std::wstring DefaultZelmonFolder();

// msiexec.exe /i "<msiPath>" /qn <properties>, e.g. properties
// L"TARGETDIR=\"C:\\Tools\\\"", waited for; msiexec's exit code (0, 1603, ...),
// kNotStarted, or 0xDEADBEEF when it had to be killed.
DWORD InstallPackage(const std::wstring& msiPath, const std::wstring& properties = std::wstring());
// msiexec.exe /x <productCode> /qn <properties>. Wine 8 takes the files away
// only from where the package would put them now (TARGETDIR of this command,
// else the default): files of an install under another TARGETDIR stay behind,
// while its service and registry values go.
DWORD UninstallProduct(const std::wstring& productCode, const std::wstring& properties = std::wstring());
// The registered UninstallString with " /qn" appended, as setup.exe runs it;
// kNotStarted when there is none.
DWORD RunUninstallString(const std::wstring& productCode);
// Leaves no trace of the utility: the product (even one whose removal fails),
// its service, HKLM\SOFTWARE\VANTIRO in every registry view and the folders
// given (e.g. install folders).
bool RemoveZelmon(const std::vector<std::wstring>& folders = std::vector<std::wstring>());

// Windows Installer's own view (MsiQueryProductStateW == INSTALLSTATE_DEFAULT).
bool IsProductInstalled(const std::wstring& productCode);
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<productCode>, the
// entry setup.exe reads, in the 64-bit registry view or else the 32-bit one:
// Windows Installer keeps it in the view of the package's platform. An absent
// value reads as empty.
struct UninstallEntry {
    bool exists = false;
    std::wstring displayVersion;
    std::wstring uninstallString;  // msiexec stores REG_EXPAND_SZ "MsiExec.exe /X{code}"
    DWORD uninstallStringType = REG_NONE;
};
UninstallEntry ReadUninstallEntry(const std::wstring& productCode);
// Rewrites (or with REG_NONE deletes) one value of that entry, e.g. an
// UninstallString that fails. msiexec /x keeps working: it has its own records.
bool SetUninstallValue(const std::wstring& productCode, const std::wstring& name, const std::wstring& value,
                       DWORD type = REG_SZ);

// The utility's keys below are read and written in a registry view of 64-bit
// Windows: KEY_WOW64_64KEY, KEY_WOW64_32KEY (where an x86 package writes), or
// 0 for the test program's own. 32-bit Windows has one view for all three.
// InstallationDirectory under kZelmonKey, as written (msiexec writes it with a
// trailing backslash); empty when absent.
std::wstring InstallationDirectory(REGSAM view = 0);
bool SetInstallationDirectory(const std::wstring& value, REGSAM view = 0);
// A value under kZelmonSettingsKey: REG_SZ as is, REG_DWORD in decimal;
// *exists tells an empty value from a missing one.
std::wstring ReadSetting(const std::wstring& name, bool* exists = nullptr, REGSAM view = 0);
bool WriteSetting(const std::wstring& name, const std::wstring& value, REGSAM view = 0);
bool WriteSetting(const std::wstring& name, DWORD value, REGSAM view = 0);
// Whether HKLM\SOFTWARE\VANTIRO is there in the view: a stray copy of the
// utility's keys in the view its package does not write.
bool VantiroKeyExists(REGSAM view);

// A regedit.exe double in the system folder, where setup.exe looks before the
// Windows folder that holds Wine's regedit. It hands each command to the real
// one unless told otherwise for exports (/e) or imports (/s): L"fail <n>"
// exits with n and does nothing, L"empty" (exports only) leaves an empty file.
// An empty text keeps the real behaviour.
bool UseRegeditDouble(const std::wstring& exportBehaviour, const std::wstring& importBehaviour);
bool StopUsingRegeditDouble();
// An msiexec.exe double in the system folder in place of Wine's, which it
// hands every command to; L"1641" for the removal (/X) or the install (/I):
// it answers 1641 once that command succeeded. Wine's own is put back after.
bool UseMsiexecDouble(const std::wstring& removal, const std::wstring& install);
bool StopUsingMsiexecDouble();
// The double's calls, oldest first: "<current folder>\t<command line>".
std::vector<std::wstring> ReadMsiexecDoubleCalls();

// The service manager's state of a service (SERVICE_RUNNING, ...), 0 when
// there is no such service.
DWORD ServiceState(const std::wstring& serviceName);
bool IsServiceRunning(const std::wstring& serviceName);
bool WaitForServiceState(const std::wstring& serviceName, DWORD state, DWORD timeoutMs);
// Running services.exe processes. Wine 8 starts a second one when
// `wineboot -i` runs on a prefix that Wine has just made (its first run already
// did the init); each keeps its own list, so services come and go at random
// and msiexec fails with 1627. A case that needs services wants exactly one.
size_t ServiceManagerCount();
// zelmsvc.log in folder: one line per start and stop, oldest first, e.g.
// "started 2024-05-01 12:34:56.789 pid 1234", "stopped ...".
std::vector<std::wstring> ServiceLog(const std::wstring& folder);
size_t ServiceStarts(const std::wstring& folder);

}  // namespace testbed
