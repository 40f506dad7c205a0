#include "utility/utility_install.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "res/resource.h"
#include "config/setup_file.h"
#include "core/admin_folders.h"
#include "core/platform.h"
#include "core/setup_state.h"
#include "core/system_libraries.h"
#include "ui/child_process.h"
#include "ui/progress_window.h"
#include "utility/installer_wait.h"
#include "utility/package_cache.h"
#include "utility/service_control.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kSettingsFileName[] = L"TMPREGZSVC.ZRG";
const wchar_t kSettingsKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings";
const ChildLogTexts kInstallTexts = {L"CreateProcess succeeded cmd=%s", L"Failed to execute install cmd(%s) err=%d",
                                     true};
const ChildLogTexts kRegistryTexts = {L"CreateProcess succeeded cmd=%s",
                                      L"Failed to execute saveing reg cmd(%s) err=%d", true};
// The services that depend on zelmsvc and ran before the removal, which
// stopped them.
DependentServices g_dependents = {0, {}};

// Without REBOOT=ReallySuppress, msiexec /qn restarts Windows itself when the
// package schedules a restart, in the middle of the run; suppressed, it ends
// with 3010 and the run offers the restart at its end.
HRESULT ComposeInstallArguments(wchar_t* arguments, const wchar_t* package, const wchar_t* folder)
{
    if (folder[0] != L'\0') {
        return StringCchPrintfW(arguments, kCommandCapacity, L"/I \"%s\" TARGETDIR=\"%s\" %s /qn", package, folder,
                                kSuppressRestart);
    }
    return StringCchPrintfW(arguments, kCommandCapacity, L"/I \"%s\" %s /qn", package, kSuppressRestart);
}

// The registry editor's result: the Windows error when it did not start,
// otherwise its exit code.
int RunRegistryEditor(const wchar_t* arguments)
{
    wchar_t program[kPathCapacity];
    DWORD exitCode = 0;
    DWORD error = ERROR_FILE_NOT_FOUND;
    // The editor of the view that holds the settings: the other one would
    // export or import them in its own view.
    bool found = g_setup.utilityView == KEY_WOW64_32KEY && Is64BitBuild()
                     ? FindWow64Program(L"regedit.exe", program)
                     : FindSystemProgram(L"regedit.exe", true, program);
    if (!found) {
        LogMessage(kRegistryTexts.startFailed, L"regedit.exe", static_cast<int>(error));
        return static_cast<int>(error);
    }
    if (!RunProgramFile(program, arguments, NORMAL_PRIORITY_CLASS, kWaitBoundedWithoutMessages, kRegistryTexts,
                        &exitCode, &error)) {
        return static_cast<int>(error);
    }
    return static_cast<int>(exitCode);
}

bool SettingsKeyExists()
{
    HKEY key = NULL;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE | g_setup.utilityView, &key);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    // A key that exists but cannot be opened is still worth the export.
    return status != ERROR_FILE_NOT_FOUND;
}

bool IsNonEmptyFile(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return false;
    }
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (data.nFileSizeHigh != 0 || data.nFileSizeLow != 0);
}

// A new folder with an unpredictable name in the temporary folder. Creation
// fails on a name that exists, so nobody can hand the run a folder of theirs.
int CreatePrivateFolder(wchar_t* folder)
{
    int result = ERROR_SUCCESS;
    wchar_t temp[kPathCapacity] = L"";
    // A temporary folder that does not fit is refused, never cut: its name
    // goes into the log instead of the folder's.
    DWORD length = GetTempPathW(kPathCapacity, temp);
    if (length == 0 || length >= static_cast<DWORD>(kPathCapacity)) {
        result = length == 0 && GetLastError() != ERROR_SUCCESS ? static_cast<int>(GetLastError())
                                                                : ERROR_FILENAME_EXCED_RANGE;
        StringCchCopyW(temp, kPathCapacity, L"%TEMP%");
    } else {
        result = CreateRandomAdminFolder(temp, L"ZELMON-", folder);
    }
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Failed to create a folder for the service settings in %s err=%d", temp, result);
        folder[0] = L'\0';
    }
    return result;
}

// Exports into the new folder; the export must leave a file with content.
int ExportSettings(const wchar_t* folder, wchar_t* file)
{
    wchar_t arguments[kCommandCapacity];
    if (FAILED(StringCchPrintfW(file, kPathCapacity, L"%s\\%s", folder, kSettingsFileName)) ||
        FAILED(
            StringCchPrintfW(arguments, kCommandCapacity, L"/e \"%s\" HKEY_LOCAL_MACHINE\\%s", file, kSettingsKey))) {
        LogMessage(L"Registry command too long(%s)", folder);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    int result = RunRegistryEditor(arguments);
    if (result == 0 && !IsNonEmptyFile(file)) {
        result = ERROR_WRITE_FAULT;
    }
    return result;
}

void RemoveSettingsFolder(const wchar_t* file)
{
    wchar_t folder[kPathCapacity];
    DeleteFileW(file);
    if (FAILED(StringCchCopyW(folder, kPathCapacity, file))) {
        return;
    }
    wchar_t* separator = wcsrchr(folder, L'\\');
    if (separator != NULL) {
        *separator = L'\0';
        RemoveDirectoryW(folder);
    }
}

// After a removal the saved settings go back whatever the installer
// answered, and the service runs with them, its dependents with it. Windows
// restarting starts the service anyway: its restart is a step that can wait.
int CarrySettingsOver(DWORD installExitCode)
{
    if (g_setup.previousVersionRemoved != 1) {
        return 0;
    }
    bool exported = g_setup.settingsFile[0] != L'\0';
    int restored = exported ? RestoreServiceSettings() : 0;
    if (restored == 0 && installExitCode != ERROR_SUCCESS_REBOOT_INITIATED && (exported || g_dependents.count > 0)) {
        restored = RestartService(g_dependents);
    }
    return restored;
}

// An installation that Windows Installer answered with 1618 never ran: it
// runs again once no other installation does.
bool RunMsiexec(const wchar_t* arguments, DWORD* exitCode, DWORD* error)
{
    const DWORD start = GetTickCount();
    bool started = false;
    do {
        started = RunSystemProgram(L"msiexec.exe", false, arguments, NORMAL_PRIORITY_CLASS, kWaitWithProgress,
                                   kInstallTexts, exitCode, error);
    } while (started && *exitCode == ERROR_INSTALL_ALREADY_RUNNING && WaitToRetry(start));
    return started;
}

int RunInstallCommand(const wchar_t* arguments)
{
    DWORD exitCode = 0;
    DWORD error = 0;
    int result = 0;
    int restored = 0;
    bool started = false;
    ShowProgress(IDS_INSTALLING);
    started = RunMsiexec(arguments, &exitCode, &error);
    // Nothing was installed for the settings to go into: after the removal the
    // export is their only copy.
    if (!started || exitCode == ERROR_INSTALL_ALREADY_RUNNING) {
        result = static_cast<int>(started ? exitCode : error);
        if (g_setup.previousVersionRemoved == 1) {
            KeepServiceSettings();
        }
        goto cleanup;
    }
    result = static_cast<int>(exitCode);
    if (exitCode == 0 || IsRestartCode(exitCode) || exitCode == ERROR_SUCCESS_REBOOT_INITIATED) {
        // The installed product's source, for a repair that needs its package.
        g_setup.packageCopyKept = 1;
    }
    if (IsRestartCode(exitCode)) {
        g_setup.restartNeeded = 1;
        result = 0;
    }
    restored = CarrySettingsOver(exitCode);
    if (exitCode == ERROR_SUCCESS_REBOOT_INITIATED) {
        LogRestartUnderway();
    } else if (result == 0) {
        result = restored;
    }

cleanup:
    CloseProgress();
    return result;
}

}  // namespace

bool IsRestartCode(DWORD exitCode)
{
    return exitCode == ERROR_SUCCESS_REBOOT_REQUIRED;
}

void LogRestartUnderway()
{
    LogMessage(L"Windows is restarting (%d): the run ends now, without a box, which would wait in vain",
               ERROR_SUCCESS_REBOOT_INITIATED);
}

int InstallUtil()
{
    LogMessage(L"InstallUtil() is called");
    int result = kNoInstallPackage;
    wchar_t package[kPathCapacity] = L"";
    wchar_t cached[kPathCapacity] = L"";
    wchar_t arguments[kCommandCapacity] = L"";
    if (ReadPackageName(package) == 0) {
        LogMessage(L"No install package information");
        goto cleanup;
    }
    result = CachePackage(g_setup.packagePath, g_setup.productCode, g_setup.productVersion, cached);
    if (result != ERROR_SUCCESS) {
        goto cleanup;
    }
    StringCchCopyW(g_setup.packagePath, kPathCapacity, cached);
    if (FAILED(ComposeInstallArguments(arguments, g_setup.packagePath,
                                       g_setup.previousVersionRemoved == 1 ? g_setup.previousInstallDir : L""))) {
        LogMessage(L"Install command too long(%s)", package);
        result = ERROR_FILENAME_EXCED_RANGE;
        goto cleanup;
    }
    result = RunInstallCommand(arguments);

cleanup:
    LogMessage(L"Return from InstallUtil()");
    return result;
}

bool CanInstallInto(const wchar_t* folder)
{
    wchar_t entry[kPathCapacity] = L"";
    wchar_t cached[kPathCapacity] = L"";
    wchar_t arguments[kCommandCapacity] = L"";
    wchar_t command[kCommandCapacity] = L"";
    wchar_t program[kPathCapacity] = L"";
    return ComposeCachedPackage(g_setup.packagePath, g_setup.productCode, g_setup.productVersion, entry, cached) ==
               ERROR_SUCCESS &&
           SUCCEEDED(ComposeInstallArguments(arguments, cached, folder)) &&
           FindSystemProgram(L"msiexec.exe", false, program) &&
           ComposeProgramCommand(command, kCommandCapacity, program, arguments);
}

int SaveServiceSettings()
{
    wchar_t folder[kPathCapacity];
    wchar_t file[kPathCapacity] = L"";
    // Windows Installer stops them with the service and leaves them stopped.
    int result = RecordRunningDependents(&g_dependents);
    if (result != 0) {
        return result;
    }
    if (!SettingsKeyExists()) {
        LogMessage(L"No service settings to carry over");
        return 0;
    }
    result = CreatePrivateFolder(folder);
    if (result != 0) {
        return result;
    }
    result = ExportSettings(folder, file);
    if (result != 0) {
        LogMessage(L"Service settings not saved. err=%d", result);
        DeleteFileW(file);
        RemoveDirectoryW(folder);
        return result;
    }
    StringCchCopyW(g_setup.settingsFile, kPathCapacity, file);
    return 0;
}

int RestoreServiceSettings()
{
    wchar_t arguments[kCommandCapacity];
    int result = ERROR_FILENAME_EXCED_RANGE;
    if (FAILED(StringCchPrintfW(arguments, kCommandCapacity, L"/s \"%s\"", g_setup.settingsFile))) {
        LogMessage(L"Registry command too long(%s)", g_setup.settingsFile);
    } else {
        result = RunRegistryEditor(arguments);
    }
    if (result != 0) {
        KeepServiceSettings();
        return result;
    }
    DiscardServiceSettings();
    return 0;
}

void DiscardServiceSettings()
{
    if (g_setup.settingsFile[0] != L'\0') {
        RemoveSettingsFolder(g_setup.settingsFile);
        g_setup.settingsFile[0] = L'\0';
    }
}

void KeepServiceSettings()
{
    if (g_setup.settingsFile[0] != L'\0') {
        LogMessage(L"Service settings kept in %s", g_setup.settingsFile);
    }
}
