#include "ui/child_process.h"

#include "log/debug_log.h"
#include "ui/progress_window.h"

bool RunChildProcess(wchar_t* commandLine, DWORD creationFlags, ChildWait wait, const ChildLogTexts& texts,
                     DWORD* exitCode, DWORD* error)
{
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    *exitCode = 0xFFFFFFFF;
    *error = ERROR_SUCCESS;
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, creationFlags, NULL, NULL, &startup, &process)) {
        *error = GetLastError();
        LogMessage(texts.startFailed, commandLine, static_cast<int>(*error));
        return false;
    }
    LogMessage(texts.launched, commandLine);
    if (wait == kWaitWithProgress) {
        WaitForChild(process.hProcess);
    } else {
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    if (!GetExitCodeProcess(process.hProcess, exitCode)) {
        *exitCode = 0xFFFFFFFF;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (texts.logExitCode) {
        LogMessage(L"Process terminated err=%d", static_cast<int>(*exitCode));
    }
    return true;
}
