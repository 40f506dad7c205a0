#include "utility/utility_install.h"

#include "log/debug_log.h"
#include "res/resource.h"
#include "setup/setup_state.h"
#include "ui/child_process.h"
#include "ui/progress_window.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kSettingsFileName[] = L"TMPREGZSVC.ZRG";
const wchar_t kUtilityKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc";
const int kExportCommandCapacity = 520;
const ChildLogTexts kInstallTexts = {L"CreateProcess succeeded cmd=%s", L"Failed to execute install cmd(%s) err=%d",
                                     true};
const ChildLogTexts kRegistryTexts = {L"CreateProcess succeeded cmd=%s",
                                      L"Failed to execute saveing reg cmd(%s) err=%d", true};
const ChildLogTexts kServiceTexts = {L"CreateProcess succeeded cmd=%s", L"Failed to execute cmd(%s) err=%d", true};

// The path is quoted: a temporary folder with blanks (a user name with a
// blank) would otherwise split the editor's arguments and lose the settings.
bool ComposeSettingsCommand(wchar_t* command, size_t capacity, const wchar_t* format, const wchar_t* settingsFile)
{
    if (FAILED(StringCchPrintfW(command, capacity, format, settingsFile, kUtilityKey))) {
        LogMessage(L"Registry command too long(%s)", settingsFile);
        return false;
    }
    return true;
}

HRESULT ComposeInstallCommand(wchar_t* command, const wchar_t* package)
{
    if (g_setup.previousVersionRemoved == 1 && g_setup.previousInstallDir[0] != L'\0') {
        return StringCchPrintfW(command, kPathCapacity, L"msiexec.exe /I \"%s%s\" TARGETDIR=\"%s\" /qn",
                                g_setup.programDirectory, package, g_setup.previousInstallDir);
    }
    return StringCchPrintfW(command, kPathCapacity, L"msiexec.exe /I \"%s%s\" /qn", g_setup.programDirectory, package);
}

int RunInstallCommand(wchar_t* command)
{
    DWORD exitCode = 0;
    DWORD error = 0;
    ShowProgress(IDS_INSTALLING);
    int result = 0;
    if (!RunChildProcess(command, NORMAL_PRIORITY_CLASS, kWaitWithProgress, kInstallTexts, &exitCode, &error)) {
        result = static_cast<int>(error);
    } else {
        result = static_cast<int>(exitCode);
        // Whatever the installer answered, the saved settings go back and the
        // service runs with them.
        if (g_setup.previousVersionRemoved == 1 && RestoreServiceSettings() == 1) {
            RestartService();
        }
    }
    CloseProgress();
    return result;
}

}  // namespace

int GetTempFilePath(wchar_t* path, const wchar_t* name)
{
    DWORD length = GetTempPathW(kPathCapacity, path);
    if (length == 0 || length >= static_cast<DWORD>(kPathCapacity)) {
        StringCchCopyW(path, kPathCapacity, L".\\");
    } else if (path[length - 1] != L'\\' && FAILED(StringCchCatW(path, kPathCapacity, L"\\"))) {
        return 0;
    }
    return SUCCEEDED(StringCchCatW(path, kPathCapacity, name)) ? 1 : 0;
}

int InstallUtil()
{
    LogMessage(L"InstallUtil() is called");
    int result = kNoInstallPackage;
    wchar_t package[kPathCapacity] = L"";
    wchar_t command[kPathCapacity] = L"";
    if (GetPrivateProfileStringW(L"Install", L"MSI", L"", package, kPathCapacity, g_setup.setupFilePath) == 0) {
        LogMessage(L"No install package information");
    } else if (FAILED(ComposeInstallCommand(command, package))) {
        LogMessage(L"Install command too long(%s)", package);
        result = ERROR_FILENAME_EXCED_RANGE;
    } else {
        result = RunInstallCommand(command);
    }
    LogMessage(L"Return from InstallUtil()");
    return result;
}

int SaveServiceSettings()
{
    wchar_t settingsFile[kPathCapacity];
    wchar_t command[kExportCommandCapacity];
    if (!GetTempFilePath(settingsFile, kSettingsFileName) ||
        !ComposeSettingsCommand(command, kExportCommandCapacity, L"Regedit /e \"%s\" HKEY_LOCAL_MACHINE\\%s\\Settings",
                                settingsFile)) {
        return 0;
    }
    // A file left by an earlier run must not be imported in place of a failed export.
    DeleteFileW(settingsFile);
    DWORD exitCode = 0;
    DWORD error = 0;
    return RunChildProcess(command, NORMAL_PRIORITY_CLASS, kWaitWithoutMessages, kRegistryTexts, &exitCode, &error) ? 1
                                                                                                                    : 0;
}

int RestoreServiceSettings()
{
    wchar_t settingsFile[kPathCapacity];
    wchar_t command[kPathCapacity];
    if (!GetTempFilePath(settingsFile, kSettingsFileName)) {
        return 0;
    }
    int result = 0;
    if (ComposeSettingsCommand(command, kPathCapacity, L"Regedit /s \"%s\"", settingsFile)) {
        DWORD exitCode = 0;
        DWORD error = 0;
        result =
            RunChildProcess(command, NORMAL_PRIORITY_CLASS, kWaitWithoutMessages, kRegistryTexts, &exitCode, &error)
                ? 1
                : 0;
    }
    DeleteFileW(settingsFile);
    return result;
}

int RestartService()
{
    const wchar_t* const commands[] = {L"net stop zelmsvc", L"net start zelmsvc"};
    int result = 0;
    for (const wchar_t* text : commands) {
        // CreateProcessW may write into its command line.
        wchar_t command[32];
        StringCchCopyW(command, 32, text);
        DWORD exitCode = 0;
        DWORD error = 0;
        if (!RunChildProcess(command, NORMAL_PRIORITY_CLASS | CREATE_NO_WINDOW, kWaitWithProgress, kServiceTexts,
                             &exitCode, &error)) {
            result = 0;
            continue;
        }
        if (exitCode != 0) {
            return 0;
        }
        result = 1;
    }
    return result;
}
