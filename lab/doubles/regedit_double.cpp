// regedit.exe for the outcomes Wine's never gives (it exits with 0 even when it
// did nothing), put into the system folder, where setup.exe looks first. Each
// command goes on to the real one in the Windows folder unless
// HKLM\Software\VantiroTestBed\RegeditDouble says otherwise: Export (for /e)
// or Import (for /s) "fail <n>" exits with n, Export "empty" leaves an empty file.
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#include <strsafe.h>

namespace {

const wchar_t kConfigKey[] = L"Software\\VantiroTestBed\\RegeditDouble";

DWORD RunRealEditor(const wchar_t* arguments)
{
    wchar_t program[MAX_PATH] = L"";
    UINT length = GetSystemWindowsDirectoryW(program, MAX_PATH);
    static wchar_t command[32768];
    if (length == 0 || length >= MAX_PATH || FAILED(StringCchCatW(program, MAX_PATH, L"\\regedit.exe")) ||
        FAILED(StringCchPrintfW(command, ARRAYSIZE(command), L"\"%s\" %s", program, arguments)))
        return ERROR_FILENAME_EXCED_RANGE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return GetLastError();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

// The arguments after the program's own name.
const wchar_t* Arguments()
{
    const wchar_t* line = GetCommandLineW();
    bool quoted = false;
    for (; *line != L'\0' && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
        if (*line == L'"')
            quoted = !quoted;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const wchar_t* arguments = Arguments();
    const bool exporting = _wcsnicmp(arguments, L"/e ", 3) == 0;
    wchar_t behaviour[64] = L"";
    DWORD bytes = sizeof(behaviour);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, exporting ? L"Export" : L"Import", RRF_RT_REG_SZ, nullptr,
                     behaviour, &bytes) != ERROR_SUCCESS)
        return static_cast<int>(RunRealEditor(arguments));
    if (wcsncmp(behaviour, L"fail ", 5) == 0)
        return _wtoi(behaviour + 5);
    if (exporting && wcscmp(behaviour, L"empty") == 0) {
        // /e "<file>" <key>
        wchar_t file[MAX_PATH] = L"";
        const wchar_t* start = wcschr(arguments, L'"');
        const wchar_t* end = start == nullptr ? nullptr : wcschr(start + 1, L'"');
        if (end == nullptr || FAILED(StringCchCopyNW(file, MAX_PATH, start + 1, end - start - 1)))
            return 1;
        HANDLE handle = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        return 0;
    }
    return static_cast<int>(RunRealEditor(arguments));
}
