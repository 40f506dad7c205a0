#include "utility/utility_removal.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "system/child_process.h"
#include "utility/installed_utility.h"
#include "utility/installer_wait.h"
#include "utility/utility_install.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const DWORD kPathBytes = kPathCapacity * sizeof(wchar_t);

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
HRESULT ComposeMsiexecArguments(const wchar_t* productCode, const wchar_t* rest, wchar_t* arguments)
{
    HRESULT result = StringCchPrintfW(arguments, kCommandCapacity, L"/X%s", productCode);
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
int ComposeUninstallCommand(const wchar_t* productCode, const wchar_t* stored, wchar_t* command, wchar_t* application)
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
    composed = IsMsiexec(application) ? ComposeMsiexecArguments(productCode, rest, arguments)
                                      : StringCchPrintfW(arguments, kCommandCapacity, L"%s /qn", rest);
    if (FAILED(composed) || !ComposeProgramCommand(command, kCommandCapacity, application, SkipBlanks(arguments))) {
        LogMessage(L"Uninstall command too long(%s)", stored);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
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
int ReadStoredUninstallCommand(const wchar_t* productCode, wchar_t* stored)
{
    HKEY key = NULL;
    REGSAM view = 0;
    LONG status = OpenUninstallEntry(productCode, &key, &view);
    if (status != ERROR_SUCCESS) {
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

}  // namespace

int ReadUninstallCommand(const UtilityPlan& plan, wchar_t* command, wchar_t* application)
{
    wchar_t stored[kPathCapacity] = L"";
    command[0] = L'\0';
    int result = ReadStoredUninstallCommand(plan.productCode, stored);
    if (result != ERROR_SUCCESS) {
        return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
    }
    result = ComposeUninstallCommand(plan.productCode, stored, command, application);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Failed to execute uninstall cmd(%s) err=%d", stored, result);
        command[0] = L'\0';
        application[0] = L'\0';
    }
    return result;
}

StepResult RunRemoval(const SetupConfig& config, const wchar_t* application, const wchar_t* command)
{
    static const ChildLogTexts kTexts = {L"Executed uninstall cmd(%s)", L"Failed to execute uninstall cmd(%s) err=%d",
                                         false};
    StepResult result = RunInstaller(config, application, command, kTexts);
    if (result.error != ERROR_SUCCESS) {
        LogMessage(L"Uninstall process has failed.err = %d", static_cast<int>(result.error));
    } else {
        LogMessage(L"Uninstall process has completed");
    }
    return result;
}
