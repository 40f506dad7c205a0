#include "utility/utility_removal.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "res/resource.h"
#include "core/setup_state.h"
#include "core/system_libraries.h"
#include "ui/child_process.h"
#include "ui/progress_window.h"
#include "utility/utility_install.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kUtilityKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc";
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
    // Windows Installer keeps the entry in the view of the package's platform.
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key);
    if (status == ERROR_FILE_NOT_FOUND) {
        status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key);
    }
    return status;
}

// The view that holds the utility's key: the 64-bit one for a package built
// for x64, the 32-bit one for a 32-bit package. Both are one on 32-bit Windows.
REGSAM FindUtilityKeyView()
{
    const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (REGSAM view : views) {
        HKEY key = NULL;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUtilityKey, 0, KEY_QUERY_VALUE | view, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return view;
        }
    }
    return 0;
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

// The program of a stored uninstall command: quoted, or up to the first blank.
bool SplitProgram(const wchar_t* command, wchar_t* program, const wchar_t** rest)
{
    const wchar_t* start = command;
    const wchar_t* end = NULL;
    if (*command == L'"') {
        start = command + 1;
        end = wcschr(start, L'"');
        if (end == NULL) {
            return false;
        }
        *rest = end + 1;
    } else {
        end = command + wcscspn(command, L" \t");
        *rest = end;
    }
    return end > start && SUCCEEDED(StringCchCopyNW(program, kPathCapacity, start, end - start));
}

bool IsFullPath(const wchar_t* path)
{
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
                 path[2] == L'\\';
    return drive || (path[0] == L'\\' && path[1] == L'\\');
}

// A command whose program has a full path runs as stored (*application
// empty). A program without a folder, such as Windows Installer's own
// "MsiExec.exe /X{code}", is taken only from the system or the Windows folder
// and the command rewritten to its full path; anything else is refused, since
// the program search would first look beside setup.exe and in the current folder.
int ResolveUninstallProgram(wchar_t* command, wchar_t* application)
{
    wchar_t program[kPathCapacity];
    wchar_t resolved[kCommandCapacity];
    const wchar_t* rest = NULL;
    application[0] = L'\0';
    if (!SplitProgram(command, program, &rest)) {
        return ERROR_BAD_PATHNAME;
    }
    if (IsFullPath(program)) {
        return ERROR_SUCCESS;
    }
    if (wcspbrk(program, L"\\/:") != NULL) {
        return ERROR_BAD_PATHNAME;
    }
    if (wcschr(program, L'.') == NULL && FAILED(StringCchCatW(program, kPathCapacity, L".exe"))) {
        return ERROR_BAD_PATHNAME;
    }
    if (!FindSystemProgram(program, true, application)) {
        return ERROR_BAD_PATHNAME;
    }
    const wchar_t* format = wcschr(application, L' ') != NULL ? L"\"%s\"%s" : L"%s%s";
    if (FAILED(StringCchPrintfW(resolved, kCommandCapacity, format, application, rest)) ||
        FAILED(StringCchCopyW(command, kCommandCapacity, resolved))) {
        application[0] = L'\0';
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

// Windows Installer's 3010 and 1641 are successes that leave a restart due.
// Only a plain "X:\\..." folder goes into the install command: a quote or a
// wildcard would change the command, and msiexec refuses "\\?\\" paths after
// the old version is already gone.
bool IsPlainDriveFolder(const wchar_t* folder)
{
    if (!IsFullPath(folder) || folder[0] == L'\\') {
        return false;
    }
    for (const wchar_t* c = folder; *c != L'\0'; ++c) {
        if (*c < 0x20 || wcschr(L"\"*?<>|", *c) != NULL) {
            return false;
        }
    }
    return true;
}

int RunUninstallCommand(const wchar_t* application, wchar_t* command)
{
    static const ChildLogTexts kTexts = {L"Executed uninstall cmd(%s)", L"Failed to execute uninstall cmd(%s) err=%d",
                                         false};
    DWORD exitCode = 0;
    DWORD error = 0;
    int result = 0;
    ShowProgress(IDS_REMOVING);
    // Without a copy of the settings the removal would lose them.
    result = SaveServiceSettings();
    if (result != 0) {
        goto cleanup;
    }
    if (!RunChildProcess(application[0] != L'\0' ? application : NULL, command, NORMAL_PRIORITY_CLASS,
                         kWaitWithProgress, kTexts, &exitCode, &error)) {
        result = static_cast<int>(error);
        DiscardServiceSettings();
        goto cleanup;
    }
    result = static_cast<int>(exitCode);
    if (exitCode == 0 || IsRestartCode(exitCode)) {
        g_setup.previousVersionRemoved = 1;
        g_setup.restartNeeded = IsRestartCode(exitCode) ? 1 : g_setup.restartNeeded;
        result = 0;
        LogMessage(L"Uninstall process has completed");
    } else {
        LogMessage(L"Uninstall process has failed.err = %d", static_cast<int>(exitCode));
        DiscardServiceSettings();
    }

cleanup:
    CloseProgress();
    return result;
}

// A REG_EXPAND_SZ command is expanded as Windows Installer itself stores
// "%SystemRoot%\\..." references. The registry does not always store the
// terminator: the buffer holds one character beyond the bytes read.
LONG ReadStoredCommand(HKEY key, wchar_t* command)
{
    wchar_t stored[kPathCapacity + 1] = L"";
    DWORD type = REG_NONE;
    DWORD size = kPathBytes;
    LONG status = RegQueryValueExW(key, L"UninstallString", NULL, &type, reinterpret_cast<BYTE*>(stored), &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    stored[size / sizeof(wchar_t)] = L'\0';
    if (type != REG_EXPAND_SZ) {
        return SUCCEEDED(StringCchCopyW(command, kPathCapacity, stored)) ? ERROR_SUCCESS : ERROR_MORE_DATA;
    }
    DWORD length = ExpandEnvironmentStringsW(stored, command, kPathCapacity);
    if (length == 0 || length > static_cast<DWORD>(kPathCapacity)) {
        command[0] = L'\0';
        return ERROR_MORE_DATA;
    }
    return ERROR_SUCCESS;
}

// The stored uninstall command with " /qn", or an empty command when there is
// none. A command that does not fit is refused: a cut command runs another program.
int ReadUninstallCommand(wchar_t* command, wchar_t* application)
{
    HKEY key = NULL;
    LONG status = OpenUninstallEntry(&key);
    if (status != ERROR_SUCCESS) {
        LogMessage(L"App registry not found. Not installed");
    } else {
        status = ReadStoredCommand(key, command);
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        LogMessage(L"Not installed or already latest version has been installed.");
        command[0] = L'\0';
        return ERROR_SUCCESS;
    }
    if (command[0] == L'\0') {
        LogMessage(L"Invalid uninstall command string(%s)", command);
        return ERROR_SUCCESS;
    }
    int result = ResolveUninstallProgram(command, application);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Uninstall program not taken from outside the system folder(%s)", command);
    } else if (FAILED(StringCchCatW(command, kCommandCapacity, L" /qn"))) {
        LogMessage(L"Uninstall command too long(%s)", command);
        result = ERROR_FILENAME_EXCED_RANGE;
    }
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Failed to execute uninstall cmd(%s) err=%d", command, result);
        command[0] = L'\0';
    }
    return result;
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
    LONG status = ReadRegistryText(key, L"DisplayVersion", version, kDisplayVersionBytes);
    RegCloseKey(key);
    if (status == ERROR_MORE_DATA) {
        // A cut version compares wrongly: it could put an older utility over a newer one.
        LogMessage(L"Installed version unreadable");
        return kInstalledVersionUnreadable;
    }
    if (status == ERROR_SUCCESS) {
        LogMessage(L"Utility is installed.version = %s", version);
    } else {
        LogMessage(L"UninstallString value not found.");
    }
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
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUtilityKey, 0, KEY_QUERY_VALUE | g_setup.utilityView, &key);
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
    }
    if (folder[0] != L'\0' && !IsPlainDriveFolder(folder)) {
        LogMessage(L"Unusable folder(%s)", folder);
        folder[0] = L'\0';
        result = ERROR_BAD_PATHNAME;
    }
    if (folder[0] != L'\0') {
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
    wchar_t command[kCommandCapacity] = L"";
    wchar_t application[kPathCapacity] = L"";
    int result = ReadUninstallCommand(command, application);
    if (result == ERROR_SUCCESS && command[0] != L'\0') {
        g_setup.utilityView = FindUtilityKeyView();
        GetPreviousInstallDir(g_setup.previousInstallDir);
        result = RunUninstallCommand(application, command);
    }
    LogMessage(L"Return from UninstallUtil()");
    return result;
}
