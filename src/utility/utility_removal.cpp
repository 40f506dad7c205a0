#include "utility/utility_removal.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "res/resource.h"
#include "setup/setup_state.h"
#include "setup/system_libraries.h"
#include "ui/child_process.h"
#include "ui/progress_window.h"
#include "utility/utility_install.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The installed version is read with room for 31 characters.
const DWORD kDisplayVersionBytes = 64;
const DWORD kPathBytes = kPathCapacity * sizeof(wchar_t);

// The registry does not always store the terminator: the buffer holds one
// character beyond the bytes read, which is set here.
LONG ReadRegistryText(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD bytes)
{
    DWORD size = bytes;
    LONG status = RegQueryValueExW(key, name, NULL, NULL, reinterpret_cast<BYTE*>(buffer), &size);
    buffer[status == ERROR_SUCCESS ? size / sizeof(wchar_t) : 0] = L'\0';
    return status;
}

LONG OpenUninstallEntry(HKEY* key)
{
    wchar_t path[kPathCapacity];
    if (FAILED(StringCchPrintfW(path, kPathCapacity, L"%s%s", kUninstallKey, g_setup.productCode))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, key);
}

// Cuts the last path component, after a trailing "\" is dropped.
void CutToParentFolder(wchar_t* folder)
{
    size_t length = wcslen(folder);
    if (length > 0 && folder[length - 1] == L'\\') {
        folder[length - 1] = L'\0';
    }
    wchar_t* lastSeparator = wcsrchr(folder, L'\\');
    if (lastSeparator != NULL) {
        *lastSeparator = L'\0';
    }
}

int RunUninstallCommand(wchar_t* command)
{
    static const ChildLogTexts kTexts = {L"Executed uninstall cmd(%s)", L"Failed to execute uninstall cmd(%s) err=%d",
                                         false};
    DWORD exitCode = 0;
    DWORD error = 0;
    ShowProgress(IDS_REMOVING);
    SaveServiceSettings();
    if (!RunChildProcess(command, NORMAL_PRIORITY_CLASS, kWaitWithProgress, kTexts, &exitCode, &error)) {
        CloseProgress();
        return static_cast<int>(error);
    }
    if (exitCode == 0) {
        g_setup.previousVersionRemoved = 1;
        LogMessage(L"Uninstall process has completed");
    } else {
        LogMessage(L"Uninstall process has failed.err = %d", static_cast<int>(exitCode));
    }
    CloseProgress();
    return static_cast<int>(exitCode);
}

// The stored uninstall command with " /qn", or an empty command when there is
// none. A command that does not fit is refused: a cut command runs another program.
int ReadUninstallCommand(wchar_t* command)
{
    HKEY key = NULL;
    LONG status = OpenUninstallEntry(&key);
    if (status != ERROR_SUCCESS) {
        LogMessage(L"App registry not found. Not installed");
    } else {
        status = ReadRegistryText(key, L"UninstallString", command, kPathBytes);
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        LogMessage(L"Not installed or already latest version has been installed.");
        return ERROR_SUCCESS;
    }
    if (command[0] == L'\0') {
        LogMessage(L"Invalid uninstall command string(%s)", command);
        return ERROR_SUCCESS;
    }
    if (FAILED(StringCchCatW(command, kPathCapacity, L" /qn"))) {
        LogMessage(L"Uninstall command too long(%s)", command);
        command[0] = L'\0';
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

}  // namespace

int GetInstalledUtilityVersion(wchar_t* version)
{
    const MsiFunctions* msi = GetMsi();
    MSIHANDLE product = 0;
    UINT opened = msi != NULL ? msi->openProduct(g_setup.productCode, &product) : ERROR_MOD_NOT_FOUND;
    if (opened != ERROR_SUCCESS) {
        LogMessage(L"Utility is not installed.(%s) err=%d", g_setup.productCode, static_cast<int>(opened));
        return 0;
    }
    msi->closeHandle(product);
    version[0] = L'\0';
    HKEY key = NULL;
    if (OpenUninstallEntry(&key) != ERROR_SUCCESS) {
        LogMessage(L"Failed to open uninstall reg");
        return 1;
    }
    if (ReadRegistryText(key, L"DisplayVersion", version, kDisplayVersionBytes) == ERROR_SUCCESS) {
        LogMessage(L"Utility is installed.version = %s", version);
    } else {
        LogMessage(L"UninstallString value not found.");
    }
    RegCloseKey(key);
    return 1;
}

void ParseUtilityVersion(const wchar_t* text, int parts[4])
{
    const wchar_t* position = text;
    for (int part = 0; part < 4; ++part) {
        // Unsigned, so that the arithmetic wraps instead of overflowing.
        unsigned int value = 0;
        for (; *position != L'\0'; ++position) {
            if (*position == L'.') {
                ++position;
                break;
            }
            value = value * 10u + (static_cast<unsigned int>(static_cast<unsigned short>(*position)) - 48u);
        }
        parts[part] = static_cast<int>(value);
    }
}

int IsNewerUtilityVersion(const wchar_t* installedVersion)
{
    int latest[4];
    int current[4];
    ParseUtilityVersion(g_setup.productVersion, latest);
    ParseUtilityVersion(installedVersion, current);
    LogMessage(L"Check version.New=%d.%d.%d.%d Current=%d.%d.%d.%d", latest[0], latest[1], latest[2], latest[3],
               current[0], current[1], current[2], current[3]);
    for (int part = 0; part < 4; ++part) {
        if (latest[part] != current[part]) {
            return latest[part] > current[part] ? 1 : 0;
        }
    }
    return 0;
}

int GetPreviousInstallDir(wchar_t* folder)
{
    folder[0] = L'\0';
    wchar_t value[kPathCapacity + 1] = L"";
    HKEY key = NULL;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc", 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS) {
        return static_cast<int>(result);
    }
    result = ReadRegistryText(key, L"InstallationDirectory", value, kPathBytes);
    if (result == ERROR_SUCCESS && FAILED(StringCchCopyW(folder, kPathCapacity, value))) {
        result = ERROR_FILENAME_EXCED_RANGE;
    }
    if (result != ERROR_SUCCESS) {
        folder[0] = L'\0';
        goto cleanup;
    }
    if (folder[0] != L'\0') {
        LogMessage(L"Prev folder(%s)", folder);
        CutToParentFolder(folder);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(folder, &found);
        if (search == INVALID_HANDLE_VALUE) {
            LogMessage(L"No such dir(%s)", folder);
            folder[0] = L'\0';
            result = 2;
        } else {
            FindClose(search);
        }
    }
    LogMessage(L"Prev installed folder = %s", folder);

cleanup:
    RegCloseKey(key);
    return static_cast<int>(result);
}

int UninstallUtil()
{
    LogMessage(L"UninstallUtil() is called");
    wchar_t command[kPathCapacity + 1] = L"";
    int result = ReadUninstallCommand(command);
    if (result == ERROR_SUCCESS && command[0] != L'\0') {
        GetPreviousInstallDir(g_setup.previousInstallDir);
        result = RunUninstallCommand(command);
    }
    LogMessage(L"Return from UninstallUtil()");
    return result;
}
