#include "ui/child_process.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "core/setup_state.h"
#include "core/system_libraries.h"
#include "ui/progress_window.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

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

bool WaitForChildProcess(HANDLE process, ChildWait wait)
{
    if (wait == kWaitBoundedWithoutMessages) {
        return WaitForSingleObject(process, kChildWaitBoundMs) != WAIT_TIMEOUT;
    }
    return WaitForChild(process, wait == kWaitBoundedWithProgress ? kChildWaitBoundMs : INFINITE);
}

}  // namespace

bool IsProgramFile(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The system folder as the current folder: the caller's may be one that
// someone without administrator rights can write, and a child may look there
// for what it loads or runs.
bool RunChildProcess(const wchar_t* application, wchar_t* commandLine, DWORD creationFlags, ChildWait wait,
                     const ChildLogTexts& texts, DWORD* exitCode, DWORD* error)
{
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    wchar_t folder[kPathCapacity];
    bool ended = false;
    *exitCode = 0xFFFFFFFF;
    *error = ERROR_PATH_NOT_FOUND;
    if (!GetSystemFolder(folder)) {
        LogMessage(texts.startFailed, commandLine, static_cast<int>(*error));
        return false;
    }
    if (!CreateProcessW(application, commandLine, NULL, NULL, FALSE, creationFlags, NULL, folder, &startup, &process)) {
        *error = GetLastError();
        LogMessage(texts.startFailed, commandLine, static_cast<int>(*error));
        return false;
    }
    LogMessage(texts.launched, commandLine);
    ended = WaitForChildProcess(process.hProcess, wait);
    if (!ended) {
        // Left running, a hung child could still act on files the run removes.
        TerminateProcess(process.hProcess, WAIT_TIMEOUT);
        LogMessage(L"Process did not end within %u s and was ended", static_cast<unsigned>(kChildWaitBoundMs / 1000));
        *error = WAIT_TIMEOUT;
    } else if (!GetExitCodeProcess(process.hProcess, exitCode)) {
        *exitCode = 0xFFFFFFFF;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (ended && texts.logExitCode) {
        LogMessage(L"Process terminated err=%d", static_cast<int>(*exitCode));
    }
    if (ended) {
        *error = ERROR_SUCCESS;
    }
    return ended;
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

bool RunProgramFile(const wchar_t* program, const wchar_t* arguments, DWORD creationFlags, ChildWait wait,
                    const ChildLogTexts& texts, DWORD* exitCode, DWORD* error)
{
    wchar_t command[kCommandCapacity];
    *exitCode = 0xFFFFFFFF;
    if (!ComposeProgramCommand(command, kCommandCapacity, program, arguments)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        LogMessage(texts.startFailed, program, static_cast<int>(*error));
        return false;
    }
    return RunChildProcess(program, command, creationFlags, wait, texts, exitCode, error);
}

bool RunSystemProgram(const wchar_t* name, bool alsoWindowsFolder, const wchar_t* arguments, DWORD creationFlags,
                      ChildWait wait, const ChildLogTexts& texts, DWORD* exitCode, DWORD* error)
{
    wchar_t program[kPathCapacity];
    if (!FindSystemProgram(name, alsoWindowsFolder, program)) {
        *exitCode = 0xFFFFFFFF;
        *error = ERROR_FILE_NOT_FOUND;
        LogMessage(texts.startFailed, name, static_cast<int>(*error));
        return false;
    }
    return RunProgramFile(program, arguments, creationFlags, wait, texts, exitCode, error);
}
