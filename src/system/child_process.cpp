#include "system/child_process.h"

#include <wchar.h>

#include "core/process_state.h"
#include "core/system_libraries.h"
#include "log/debug_log.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const DWORD kWaitStepMs = 100;

// folderLength is what the folder query reported: 0 for a failure, the
// capacity or more for a folder that did not fit.
bool JoinFolderAndName(wchar_t* path, UINT folderLength, const wchar_t* name)
{
    if (folderLength == 0 || folderLength >= static_cast<UINT>(kPathCapacity)) {
        return false;
    }
    if (path[folderLength - 1] != L'\\' && FAILED(StringCchCatW(path, kPathCapacity, L"\\"))) {
        return false;
    }
    return SUCCEEDED(StringCchCatW(path, kPathCapacity, name));
}

}  // namespace

bool WaitPumpingMessages(HANDLE handle, DWORD timeoutMs)
{
    const User32Functions* user = GetUser32();
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(handle, kWaitStepMs) == WAIT_TIMEOUT) {
        // Unsigned subtraction stays right when the tick count wraps.
        if (timeoutMs != INFINITE && GetTickCount() - start >= timeoutMs) {
            return false;
        }
        MSG message;
        while (user != NULL && user->peekMessage(&message, NULL, 0, 0, PM_REMOVE)) {
            user->dispatchMessage(&message);
        }
    }
    return true;
}

void PauseWithMessages(DWORD pauseMs)
{
    // The process handle is never signalled, so the wait lasts the whole pause.
    WaitPumpingMessages(GetCurrentProcess(), pauseMs);
}

bool IsProgramFile(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsFullPath(const wchar_t* path)
{
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
                 path[2] == L'\\';
    return drive || (path[0] == L'\\' && path[1] == L'\\');
}

// The system folder as the current folder: the caller's may be one that
// someone without administrator rights can write, and a child may look there
// for what it loads or runs.
DWORD RunChildProcess(const wchar_t* application, wchar_t* commandLine, DWORD creationFlags, ChildWait wait,
                      const ChildLogTexts& texts, DWORD* exitCode)
{
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    wchar_t folder[kPathCapacity];
    DWORD error = ERROR_PATH_NOT_FOUND;
    bool ended = false;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    ZeroMemory(&process, sizeof(process));
    *exitCode = 0xFFFFFFFF;
    if (!GetSystemFolder(folder)) {
        LogMessage(texts.startFailed, commandLine, static_cast<int>(error));
        return error;
    }
    if (!CreateProcessW(application, commandLine, NULL, NULL, FALSE, creationFlags, NULL, folder, &startup, &process)) {
        error = GetLastError();
        LogMessage(texts.startFailed, commandLine, static_cast<int>(error));
        return error;
    }
    LogMessage(texts.launched, commandLine);
    ended = wait == kWaitWithMessages ? WaitPumpingMessages(process.hProcess, INFINITE)
                                      : WaitForSingleObject(process.hProcess, kChildWaitBoundMs) != WAIT_TIMEOUT;
    error = ERROR_SUCCESS;
    if (!ended) {
        // Left running, a hung child could still act on files the run removes.
        TerminateProcess(process.hProcess, WAIT_TIMEOUT);
        LogMessage(L"Process did not end within %u s and was ended", static_cast<unsigned>(kChildWaitBoundMs / 1000));
        error = WAIT_TIMEOUT;
    } else if (!GetExitCodeProcess(process.hProcess, exitCode)) {
        *exitCode = 0xFFFFFFFF;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (ended && texts.logExitCode) {
        LogMessage(L"Process terminated err=%d", static_cast<int>(*exitCode));
    }
    return error;
}

bool FindSystemProgram(const wchar_t* name, bool alsoWindowsFolder, wchar_t* path)
{
    UINT length = GetSystemDirectoryW(path, kPathCapacity);
    if (JoinFolderAndName(path, length, name) && IsProgramFile(path)) {
        return true;
    }
    if (alsoWindowsFolder) {
        length = GetSystemWindowsDirectoryW(path, kPathCapacity);
        if (JoinFolderAndName(path, length, name) && IsProgramFile(path)) {
            return true;
        }
    }
    path[0] = L'\0';
    return false;
}

bool FindWow64Program(const wchar_t* name, wchar_t* path)
{
    UINT length = GetSystemWow64DirectoryW(path, kPathCapacity);
    if (JoinFolderAndName(path, length, name) && IsProgramFile(path)) {
        return true;
    }
    path[0] = L'\0';
    return false;
}

bool ComposeProgramCommand(wchar_t* command, size_t capacity, const wchar_t* program, const wchar_t* arguments)
{
    const wchar_t* format = wcschr(program, L' ') != NULL ? L"\"%s\" %s" : L"%s %s";
    if (FAILED(StringCchPrintfW(command, capacity, format, program, arguments))) {
        command[0] = L'\0';
        return false;
    }
    return true;
}

DWORD RunProgramFile(const wchar_t* program, const wchar_t* arguments, DWORD creationFlags, ChildWait wait,
                     const ChildLogTexts& texts, DWORD* exitCode)
{
    wchar_t command[kCommandCapacity];
    *exitCode = 0xFFFFFFFF;
    if (!ComposeProgramCommand(command, kCommandCapacity, program, arguments)) {
        LogMessage(texts.startFailed, program, ERROR_FILENAME_EXCED_RANGE);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return RunChildProcess(program, command, creationFlags, wait, texts, exitCode);
}
