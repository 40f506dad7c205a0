#include "utility/utility_removal.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "res/resource.h"
#include "core/platform.h"
#include "core/setup_state.h"
#include "core/system_libraries.h"
#include "ui/child_process.h"
#include "ui/progress_window.h"
#include "utility/installer_wait.h"
#include "utility/utility_install.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kUtilityKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc";
// The installed version is read with room for 31 characters.
const DWORD kDisplayVersionBytes = 64;
const DWORD kPathBytes = kPathCapacity * sizeof(wchar_t);
// The longest folder that CreateDirectoryW makes: room for an 8.3 name is kept.
const int kLongestNewFolder = kPathCapacity - 12;

// The registry does not always store the terminator: the buffer holds one
// character beyond the bytes read, which is set here.
LONG ReadRegistryText(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD bytes)
{
    DWORD size = bytes;
    LONG status = RegQueryValueExW(key, name, NULL, NULL, reinterpret_cast<BYTE*>(buffer), &size);
    buffer[status == ERROR_SUCCESS ? size / sizeof(wchar_t) : 0] = L'\0';
    return status;
}

// Windows Installer keeps the entry in the view of the package's platform,
// and the utility's own keys with it; *view says which.
LONG OpenUninstallEntry(HKEY* key, REGSAM* view)
{
    wchar_t path[kPathCapacity];
    if (FAILED(StringCchPrintfW(path, kPathCapacity, L"%s%s", kUninstallKey, g_setup.productCode))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    *view = KEY_WOW64_64KEY;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | *view, key);
    if (status == ERROR_FILE_NOT_FOUND) {
        *view = KEY_WOW64_32KEY;
        status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | *view, key);
    }
    return status;
}

// A utility key in the view the package does not use belongs to no installed
// utility of this product: carried over, it would put its settings in place
// of the real ones. The 32-bit edition runs only where both views are one.
void LogKeyOfTheOtherView()
{
    if (!Is64BitBuild()) {
        return;
    }
    REGSAM other = g_setup.utilityView == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUtilityKey, 0, KEY_QUERY_VALUE | other, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        LogMessage(L"Left alone: HKLM\\%s in the %s registry view, not the package's", kUtilityKey,
                   other == KEY_WOW64_64KEY ? L"64-bit" : L"32-bit");
    }
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

bool IsBlankOrEnd(wchar_t c)
{
    return c == L'\0' || c == L' ' || c == L'\t';
}

const wchar_t* SkipBlanks(const wchar_t* text)
{
    while (*text == L' ' || *text == L'\t') {
        ++text;
    }
    return text;
}

// An unquoted program ends at the first ".exe" followed by a blank or the end,
// else at the first blank: "C:\Vantiro Tools\uninst.exe" is one program, and
// the program search would run "C:\Vantiro.exe" for it.
const wchar_t* FindUnquotedProgramEnd(const wchar_t* command)
{
    for (const wchar_t* c = command; *c != L'\0'; ++c) {
        if (_wcsnicmp(c, L".exe", 4) == 0 && IsBlankOrEnd(c[4])) {
            return c + 4;
        }
    }
    return command + wcscspn(command, L" \t");
}

// The program of a stored uninstall command, quoted or not, and the rest.
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
        *rest = SkipBlanks(end + 1);
    } else {
        end = FindUnquotedProgramEnd(command);
        *rest = SkipBlanks(end);
    }
    return end > start && SUCCEEDED(StringCchCopyNW(program, kPathCapacity, start, end - start));
}

bool IsFullPath(const wchar_t* path)
{
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
                 path[2] == L'\\';
    return drive || (path[0] == L'\\' && path[1] == L'\\');
}

// The program of a stored command, as CreateProcessW's application name, so
// that no program search takes place. A full path stays as stored. A program
// without a folder, such as Windows Installer's own "MsiExec.exe /X{code}", is
// taken only from the system or the Windows folder; anything else is refused,
// since the program search would first look beside setup.exe and in the
// current folder.
int ResolveUninstallProgram(const wchar_t* stored, wchar_t* application, const wchar_t** rest)
{
    wchar_t program[kPathCapacity];
    application[0] = L'\0';
    if (!SplitProgram(stored, program, rest)) {
        return ERROR_BAD_PATHNAME;
    }
    if (IsFullPath(program)) {
        return SUCCEEDED(StringCchCopyW(application, kPathCapacity, program)) ? ERROR_SUCCESS : ERROR_BAD_PATHNAME;
    }
    if (wcspbrk(program, L"\\/:") != NULL) {
        return ERROR_BAD_PATHNAME;
    }
    if (wcschr(program, L'.') == NULL && FAILED(StringCchCatW(program, kPathCapacity, L".exe"))) {
        return ERROR_BAD_PATHNAME;
    }
    return FindSystemProgram(program, true, application) ? ERROR_SUCCESS : ERROR_BAD_PATHNAME;
}

bool IsMsiexec(const wchar_t* program)
{
    const wchar_t* separator = wcsrchr(program, L'\\');
    return _wcsicmp(separator != NULL ? separator + 1 : program, L"msiexec.exe") == 0;
}

// One argument ends at a blank outside double quotes.
const wchar_t* FindArgumentEnd(const wchar_t* argument)
{
    bool quoted = false;
    const wchar_t* c = argument;
    for (; *c != L'\0' && (quoted || !IsBlankOrEnd(*c)); ++c) {
        if (*c == L'"') {
            quoted = !quoted;
        }
    }
    return c;
}

// msiexec's /I or /X (any case, or with "-"), the product attached ("/I{code}")
// or following as the next argument (*productFollows).
bool IsProductOption(const wchar_t* argument, const wchar_t* end, bool* productFollows)
{
    if (end - argument < 2 || (argument[0] != L'/' && argument[0] != L'-') || wcschr(L"IiXx", argument[1]) == NULL) {
        return false;
    }
    *productFollows = end - argument == 2;
    return *productFollows || argument[2] == L'{';
}

HRESULT AppendArgument(wchar_t* arguments, const wchar_t* argument, const wchar_t* end)
{
    HRESULT result = StringCchCatW(arguments, kCommandCapacity, L" ");
    return SUCCEEDED(result) ? StringCchCatNW(arguments, kCommandCapacity, argument, end - argument) : result;
}

// Windows Installer stores "MsiExec.exe /I{code}" for every product that can
// be changed, which would repair it: the removal is /X with the product code,
// the stored command's other options kept.
HRESULT ComposeMsiexecArguments(const wchar_t* rest, wchar_t* arguments)
{
    HRESULT result = StringCchPrintfW(arguments, kCommandCapacity, L"/X%s", g_setup.productCode);
    bool productFollows = false;
    const wchar_t* argument = SkipBlanks(rest);
    while (SUCCEEDED(result) && *argument != L'\0') {
        const wchar_t* end = FindArgumentEnd(argument);
        if (productFollows) {
            productFollows = false;
        } else if (!IsProductOption(argument, end, &productFollows)) {
            result = AppendArgument(arguments, argument, end);
        }
        argument = SkipBlanks(end);
    }
    if (SUCCEEDED(result)) {
        result = StringCchCatW(arguments, kCommandCapacity, L" ");
    }
    if (SUCCEEDED(result)) {
        result = StringCchCatW(arguments, kCommandCapacity, kSuppressRestart);
    }
    return SUCCEEDED(result) ? StringCchCatW(arguments, kCommandCapacity, L" /qn") : result;
}

// The command to run for a stored uninstall command, its program as the
// application name; a program that is not there is refused before anything
// changes, as a command that does not fit: a cut command runs another program.
int ComposeUninstallCommand(const wchar_t* stored, wchar_t* command, wchar_t* application)
{
    wchar_t arguments[kCommandCapacity];
    const wchar_t* rest = NULL;
    HRESULT composed = E_FAIL;
    if (ResolveUninstallProgram(stored, application, &rest) != ERROR_SUCCESS) {
        LogMessage(L"Uninstall program not taken from outside the system folder(%s)", stored);
        return ERROR_BAD_PATHNAME;
    }
    if (!IsProgramFile(application)) {
        LogMessage(L"Uninstall program not found(%s)", application);
        return ERROR_BAD_PATHNAME;
    }
    composed = IsMsiexec(application) ? ComposeMsiexecArguments(rest, arguments)
                                      : StringCchPrintfW(arguments, kCommandCapacity, L"%s /qn", rest);
    if (FAILED(composed) || !ComposeProgramCommand(command, kCommandCapacity, application, SkipBlanks(arguments))) {
        LogMessage(L"Uninstall command too long(%s)", stored);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

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

// msiexec creates the folder, which may not be longer than CreateDirectoryW
// takes; a folder it cannot use would fail the installation after the old
// version is already gone.
bool FitsCreateDirectory(const wchar_t* folder)
{
    size_t length = wcslen(folder);
    if (length > 0 && folder[length - 1] == L'\\') {
        --length;
    }
    return length <= static_cast<size_t>(kLongestNewFolder);
}

// The parent of a folder the new version can go to, decided before the
// removal; otherwise parent is empty and the package's own folder is used.
LONG TakeParentOfUsableFolder(const wchar_t* value, wchar_t* parent)
{
    parent[0] = L'\0';
    if (IsPlainDriveFolder(value) && FitsCreateDirectory(value) &&
        SUCCEEDED(StringCchCopyW(parent, kPathCapacity, value))) {
        CutToParentFolder(parent);
        if (CanInstallInto(parent)) {
            return ERROR_SUCCESS;
        }
    }
    LogMessage(L"Unusable folder(%s)", value);
    parent[0] = L'\0';
    return ERROR_BAD_PATHNAME;
}

bool FolderExists(const wchar_t* folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(folder, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    return true;
}

// 0 when the old version is gone, 1641 when it is gone and Windows is
// restarting: the new version then comes only with a later run, and the
// export stays as the only copy of the settings.
int ReportRemoval(DWORD exitCode)
{
    if (exitCode != 0 && !IsRestartCode(exitCode) && exitCode != ERROR_SUCCESS_REBOOT_INITIATED) {
        LogMessage(L"Uninstall process has failed.err = %d", static_cast<int>(exitCode));
        DiscardServiceSettings();
        return static_cast<int>(exitCode);
    }
    g_setup.previousVersionRemoved = 1;
    g_setup.restartNeeded = IsRestartCode(exitCode) ? 1 : g_setup.restartNeeded;
    LogMessage(L"Uninstall process has completed");
    if (exitCode != ERROR_SUCCESS_REBOOT_INITIATED) {
        return 0;
    }
    KeepServiceSettings();
    LogRestartUnderway();
    return ERROR_SUCCESS_REBOOT_INITIATED;
}

// A removal that Windows Installer answered with 1618 never ran: it runs
// again once no other installation does. Each run gets its own copy of the
// command, which CreateProcessW may change.
bool RunRemoval(const wchar_t* application, const wchar_t* command, DWORD* exitCode, DWORD* error)
{
    static const ChildLogTexts kTexts = {L"Executed uninstall cmd(%s)", L"Failed to execute uninstall cmd(%s) err=%d",
                                         false};
    wchar_t line[kCommandCapacity];
    const DWORD start = GetTickCount();
    bool started = false;
    do {
        if (FAILED(StringCchCopyW(line, kCommandCapacity, command))) {
            *error = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        started = RunChildProcess(application, line, NORMAL_PRIORITY_CLASS, kWaitWithProgress, kTexts, exitCode, error);
    } while (started && *exitCode == ERROR_INSTALL_ALREADY_RUNNING && WaitToRetry(start));
    return started;
}

int RunUninstallCommand(const wchar_t* application, const wchar_t* command)
{
    DWORD exitCode = 0;
    DWORD error = 0;
    int result = 0;
    ShowProgress(IDS_REMOVING);
    // Without a copy of the settings the removal would lose them.
    result = SaveServiceSettings();
    if (result != 0) {
        goto cleanup;
    }
    if (!RunRemoval(application, command, &exitCode, &error)) {
        result = static_cast<int>(error);
        DiscardServiceSettings();
        goto cleanup;
    }
    result = ReportRemoval(exitCode);

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

// The stored uninstall command: ERROR_SUCCESS, or ERROR_FILE_NOT_FOUND (and
// logged) when there is none, or ERROR_FILENAME_EXCED_RANGE when it does not
// fit: cut, it would run another command.
int ReadStoredUninstallCommand(wchar_t* stored)
{
    HKEY key = NULL;
    LONG status = OpenUninstallEntry(&key, &g_setup.utilityView);
    if (status != ERROR_SUCCESS) {
        g_setup.utilityView = 0;
        LogMessage(L"App registry not found. Not installed");
    } else {
        status = ReadStoredCommand(key, stored);
        RegCloseKey(key);
    }
    if (status == ERROR_MORE_DATA) {
        LogMessage(L"Uninstall command too long(%d characters or more)", kPathCapacity);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (status != ERROR_SUCCESS) {
        LogMessage(L"Not installed or already latest version has been installed.");
        return ERROR_FILE_NOT_FOUND;
    }
    if (stored[0] == L'\0') {
        LogMessage(L"Invalid uninstall command string(%s)", stored);
        return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

// The command that removes the installed utility and its program, or an
// empty command when none is stored.
int ReadUninstallCommand(wchar_t* command, wchar_t* application)
{
    wchar_t stored[kPathCapacity] = L"";
    command[0] = L'\0';
    int result = ReadStoredUninstallCommand(stored);
    if (result != ERROR_SUCCESS) {
        return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
    }
    result = ComposeUninstallCommand(stored, command, application);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Failed to execute uninstall cmd(%s) err=%d", stored, result);
        command[0] = L'\0';
        application[0] = L'\0';
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
    REGSAM view = 0;
    if (OpenUninstallEntry(&key, &view) != ERROR_SUCCESS) {
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
    wchar_t value[kCommandCapacity + 1] = L"";
    HKEY key = NULL;
    folder[0] = L'\0';
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUtilityKey, 0, KEY_QUERY_VALUE | g_setup.utilityView, &key);
    if (result != ERROR_SUCCESS) {
        return static_cast<int>(result);
    }
    result = ReadRegistryText(key, L"InstallationDirectory", value, kCommandCapacity * sizeof(wchar_t));
    RegCloseKey(key);
    if (result == ERROR_MORE_DATA) {
        LogMessage(L"Unusable folder(longer than %d characters)", kCommandCapacity - 1);
    }
    if (result != ERROR_SUCCESS) {
        return static_cast<int>(result);
    }
    if (value[0] != L'\0') {
        LogMessage(L"Prev folder(%s)", value);
        result = TakeParentOfUsableFolder(value, folder);
    }
    if (folder[0] != L'\0' && !FolderExists(folder)) {
        LogMessage(L"No such dir(%s)", folder);
        folder[0] = L'\0';
        result = ERROR_FILE_NOT_FOUND;
    }
    LogMessage(L"Prev installed folder = %s", folder);
    return static_cast<int>(result);
}

int UninstallUtil()
{
    LogMessage(L"UninstallUtil() is called");
    wchar_t command[kCommandCapacity] = L"";
    wchar_t application[kPathCapacity] = L"";
    int result = ReadUninstallCommand(command, application);
    if (result == ERROR_SUCCESS && command[0] != L'\0') {
        LogKeyOfTheOtherView();
        GetPreviousInstallDir(g_setup.previousInstallDir);
        result = RunUninstallCommand(application, command);
    }
    LogMessage(L"Return from UninstallUtil()");
    return result;
}
