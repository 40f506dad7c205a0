#include "setup/hand_over.h"

#include <windows.h>

#include "log/debug_log.h"
#include "res/resource.h"
#include "setup/main_sequence.h"
#include "core/setup_state.h"
#include "ui/message_boxes.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

// Room for any command line Windows accepts.
const size_t kCommandLineCapacity = 32768;

// The arguments of our own command line, after argument 0; argument 0 ends at
// its closing quote or at the first blank, as CommandLineToArgvW reads it.
const wchar_t* ArgumentsAfterProgram(const wchar_t* commandLine)
{
    const wchar_t* position = commandLine;
    bool quoted = false;
    for (; *position != L'\0' && (quoted || (*position != L' ' && *position != L'\t')); ++position) {
        if (*position == L'"') {
            quoted = !quoted;
        }
    }
    while (*position == L' ' || *position == L'\t') {
        ++position;
    }
    return position;
}

bool FindSetup64(wchar_t* program)
{
    if (FAILED(StringCchPrintfW(program, kPathCapacity, L"%s%s", g_setup.programDirectory, kSetup64Name))) {
        return false;
    }
    DWORD attributes = GetFileAttributesW(program);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// setup64.exe's exit code, or the Windows error that kept it from starting.
int RunSetup64(const wchar_t* program)
{
    int result = ERROR_NOT_ENOUGH_MEMORY;
    DWORD exitCode = 0xFFFFFFFF;
    const wchar_t* arguments = NULL;
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    ZeroMemory(&process, sizeof(process));
    wchar_t* command = static_cast<wchar_t*>(LocalAlloc(LPTR, kCommandLineCapacity * sizeof(wchar_t)));
    if (command == NULL) {
        goto cleanup;
    }
    arguments = ArgumentsAfterProgram(GetCommandLineW());
    if (FAILED(StringCchPrintfW(command, kCommandLineCapacity, *arguments != L'\0' ? L"\"%s\" %s" : L"\"%s\"%s",
                                program, arguments))) {
        result = ERROR_FILENAME_EXCED_RANGE;
        goto cleanup;
    }
    if (!CreateProcessW(program, command, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, NULL, &startup, &process)) {
        result = static_cast<int>(GetLastError());
        goto cleanup;
    }
    LogMessage(L"Handed over to %s", command);
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, &exitCode)) {
        exitCode = 0xFFFFFFFF;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LocalFree(command);
    return static_cast<int>(exitCode);

cleanup:
    LogMessage(L"Failed to start %s err=%d", program, result);
    ShowFailure(result);
    if (command != NULL) {
        LocalFree(command);
    }
    return result;
}

}  // namespace

int HandOverTo64BitSetup()
{
    wchar_t program[kPathCapacity];
    if (!FindSetup64(program)) {
        LogMessage(L"64-bit Windows needs setup64.exe");
        ShowMessage(IDS_OS_NOT_SUPPORTED, MB_ICONERROR);
        return kExitRefused;
    }
    return RunSetup64(program);
}
