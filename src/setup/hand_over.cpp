#include "setup/hand_over.h"

#include <windows.h>

#include "log/debug_log.h"
#include "res/resource.h"
#include "setup/command_line.h"
#include "setup/exit_code.h"
#include "core/process_state.h"
#include "core/system_libraries.h"
#include "system/child_process.h"
#include "ui/message_boxes.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

// Room for any command line Windows accepts.
const size_t kCommandLineCapacity = 32768;

// Before anything has changed: logged, string 13 and exit code 3.
RunOutcome RefuseHandOver(const wchar_t* reason)
{
    LogMessage(L"%s", reason);
    ShowMessage(IDS_OS_NOT_SUPPORTED, MB_ICONERROR);
    return Ended(kEndedRefused);
}

// Done when program names setup64.exe beside us and it is an x64 program;
// otherwise how the run ends, the refusal shown. Started under WOW64, a
// 32-bit program of that name would hand the run on to a copy of itself,
// again and again.
RunOutcome FindSetup64(const SetupConfig& config, wchar_t* program)
{
    // Refused like the package's path: a shortened path would name another file.
    if (FAILED(StringCchPrintfW(program, kPathCapacity, L"%s%s", config.programDirectory, kSetup64Name))) {
        LogMessage(L"%s path too long(%s%s)", kSetup64Name, config.programDirectory, kSetup64Name);
        return Ended(kEndedFailed, ERROR_FILENAME_EXCED_RANGE);
    }
    if (!IsProgramFile(program)) {
        return RefuseHandOver(L"64-bit Windows needs setup64.exe");
    }
    DWORD binaryType = 0;
    if (!GetBinaryTypeW(program, &binaryType) || binaryType != SCS_64BIT_BINARY) {
        return RefuseHandOver(L"setup64.exe is not a 64-bit program");
    }
    return Ended(kEndedDone);
}

// setup64.exe's exit code, or the Windows error that kept it from starting.
RunOutcome RunSetup64(const wchar_t* program)
{
    DWORD result = ERROR_NOT_ENOUGH_MEMORY;
    DWORD exitCode = 0xFFFFFFFF;
    const wchar_t* arguments = NULL;
    wchar_t folder[kPathCapacity];
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    ZeroMemory(&process, sizeof(process));
    wchar_t* command = static_cast<wchar_t*>(LocalAlloc(LPTR, kCommandLineCapacity * sizeof(wchar_t)));
    if (command == NULL) {
        goto cleanup;
    }
    arguments = FindArgumentsAfterProgram(GetCommandLineW());
    if (FAILED(StringCchPrintfW(command, kCommandLineCapacity, *arguments != L'\0' ? L"\"%s\" %s" : L"\"%s\"%s",
                                program, arguments))) {
        result = ERROR_FILENAME_EXCED_RANGE;
        goto cleanup;
    }
    // Not the caller's current folder, which someone without administrator
    // rights may be able to write.
    if (!GetSystemFolder(folder)) {
        result = ERROR_PATH_NOT_FOUND;
        goto cleanup;
    }
    if (!CreateProcessW(program, command, NULL, NULL, FALSE, NORMAL_PRIORITY_CLASS, NULL, folder, &startup, &process)) {
        result = GetLastError();
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
    return Ended(kEndedHandedOver, exitCode);

cleanup:
    LogMessage(L"Failed to start %s err=%d", program, static_cast<int>(result));
    if (command != NULL) {
        LocalFree(command);
    }
    return Ended(kEndedFailed, result);
}

}  // namespace

RunOutcome HandOverTo64BitSetup(const SetupConfig& config)
{
    wchar_t program[kPathCapacity];
    RunOutcome found = FindSetup64(config, program);
    return found.ending != kEndedDone ? found : RunSetup64(program);
}
