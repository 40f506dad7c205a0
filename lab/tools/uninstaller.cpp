// Stands in for a product's own uninstall program that lies in a folder of
// its own: it hands its arguments ("/X{code} /qn") to msiexec.exe of the
// system folder, so that the product is really removed, and leaves
// "<its own path>.cwd" beside itself with the current folder it ran in
// (UTF-16). Ends with msiexec's exit code.
#include <windows.h>

#include <strsafe.h>

namespace {

void RecordCurrentFolder()
{
    wchar_t marker[MAX_PATH + 8];
    wchar_t folder[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, marker, MAX_PATH);
    DWORD folderLength = GetCurrentDirectoryW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || folderLength == 0 || folderLength >= MAX_PATH ||
        FAILED(StringCchCatW(marker, MAX_PATH + 8, L".cwd")))
        return;
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, folder, folderLength * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}

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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)showCommand;
    RecordCurrentFolder();
    wchar_t program[MAX_PATH] = L"";
    static wchar_t command[32768];
    UINT length = GetSystemDirectoryW(program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || FAILED(StringCchCatW(program, MAX_PATH, L"\\msiexec.exe")) ||
        FAILED(StringCchPrintfW(command, ARRAYSIZE(command), L"\"%s\" %s", program, Arguments())))
        return ERROR_FILENAME_EXCED_RANGE;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return static_cast<int>(GetLastError());
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
