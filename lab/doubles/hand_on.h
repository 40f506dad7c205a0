// For the doubles and stand-ins that hand their command on to a program of
// Windows' own.
#pragma once

#include <windows.h>

#include "setup/command_line.h"

#include <strsafe.h>

// Our arguments, read as the program under test reads a command line.
inline const wchar_t* OwnArguments()
{
    return FindArgumentsAfterProgram(GetCommandLineW());
}

// Runs <folder>\<name> (folder: GetSystemDirectoryW or
// GetSystemWindowsDirectoryW) with the arguments and waits: its exit code, or
// the error that kept it from starting.
inline DWORD RunAndWait(UINT(WINAPI* folder)(LPWSTR, UINT), const wchar_t* name, const wchar_t* arguments)
{
    wchar_t program[MAX_PATH] = L"";
    static wchar_t command[32768];
    UINT length = folder(program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || FAILED(StringCchCatW(program, MAX_PATH, L"\\")) ||
        FAILED(StringCchCatW(program, MAX_PATH, name)) ||
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
