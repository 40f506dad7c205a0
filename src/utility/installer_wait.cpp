#include "utility/installer_wait.h"

#include "log/debug_log.h"
#include "ui/progress_window.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

// Windows Installer's service holds this mutex while it runs an
// installation's execute sequence, and removes it afterwards. In the global
// namespace, so that an installation of any session counts. Wine's Windows
// Installer never takes it.
const wchar_t kExecuteMutexName[] = L"Global\\_MSIExecute";
const DWORD kPollMs = 100;
// How long one test of the mutex may hold it.
const DWORD kTestMs = 5;
// A Windows Installer that looks free and still answers 1618 is between two
// steps of another installation: the command runs again after a pause.
const DWORD kRetryPauseMs = 1000;

DWORD BoundMs(const SetupConfig& config)
{
    return static_cast<DWORD>(config.installerWaitSeconds) * 1000;
}

DWORD TimeLeft(DWORD start, DWORD bound)
{
    // Unsigned subtraction stays right when the tick count wraps.
    DWORD elapsed = GetTickCount() - start;
    return elapsed < bound ? bound - elapsed : 0;
}

enum InstallerState { kInstallerFree, kInstallerBusy, kInstallerUntestable };

// Windows releases a mutex only through a handle with MUTEX_MODIFY_STATE ("the
// right to release a named mutex"), and a wait that succeeds makes this
// thread its owner: the test opens it with both rights, waits no longer than
// an instant and releases it at once, so that no installation ever waits for
// this run. A mutex that cannot be opened so, or not released, is not waited
// on: msiexec's own 1618 and the retries tell instead.
InstallerState TestInstallerOnce()
{
    InstallerState state = kInstallerBusy;
    DWORD wait = WAIT_FAILED;
    HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kExecuteMutexName);
    if (mutex == NULL) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return kInstallerFree;
        }
        LogMessage(L"Windows Installer's mutex not tested err=%d: msiexec's answer tells", static_cast<int>(error));
        return kInstallerUntestable;
    }
    wait = WaitForSingleObject(mutex, kTestMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        state = kInstallerFree;
        if (!ReleaseMutex(mutex)) {
            LogMessage(L"ReleaseMutex err=%d: msiexec's answer tells", static_cast<int>(GetLastError()));
            state = kInstallerUntestable;
        }
    }
    CloseHandle(mutex);
    return state;
}

// true when no installation runs, when the one running ends before timeoutMs,
// or when the mutex cannot be tested.
bool WaitUntilFree(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (TestInstallerOnce() != kInstallerBusy) {
            return true;
        }
        DWORD left = TimeLeft(start, timeoutMs);
        if (left == 0) {
            return false;
        }
        PauseWithMessages(left < kPollMs ? left : kPollMs);
    }
}

void LogStillBusy(unsigned seconds)
{
    LogMessage(L"Windows Installer still busy after %u s err=%d", seconds, ERROR_INSTALL_ALREADY_RUNNING);
}

// After a command that started at tick start was answered with 1618: waits
// until Windows Installer is free again. true when the command may run again,
// false once InstallerWait seconds have passed since start.
bool WaitToRetry(DWORD start, DWORD bound)
{
    DWORD left = TimeLeft(start, bound);
    if (left == 0) {
        LogStillBusy(bound / 1000);
        return false;
    }
    LogMessage(L"Waiting for Windows Installer: another installation is running");
    PauseWithMessages(left < kRetryPauseMs ? left : kRetryPauseMs);
    if (!WaitUntilFree(TimeLeft(start, bound))) {
        LogStillBusy(bound / 1000);
        return false;
    }
    LogMessage(L"Windows Installer free: the command runs again");
    return true;
}

}  // namespace

bool IsWindowsInstallerBusy()
{
    return TestInstallerOnce() == kInstallerBusy;
}

StepResult WaitForWindowsInstaller(const SetupConfig& config, UINT progressText)
{
    const DWORD bound = BoundMs(config);
    if (bound == 0 || WaitUntilFree(0)) {
        return StepDone();
    }
    LogMessage(L"Waiting for Windows Installer: another installation is running");
    ShowProgress(progressText);
    const DWORD start = GetTickCount();
    bool free = WaitUntilFree(bound);
    unsigned seconds = static_cast<unsigned>((GetTickCount() - start) / 1000);
    CloseProgress();
    if (!free) {
        LogStillBusy(seconds);
        return StepFailed(ERROR_INSTALL_ALREADY_RUNNING);
    }
    LogMessage(L"Windows Installer free after %u s", seconds);
    return StepDone();
}

StepResult RunInstaller(const SetupConfig& config, const wchar_t* application, const wchar_t* command,
                        const ChildLogTexts& texts)
{
    wchar_t line[kCommandCapacity];
    DWORD exitCode = 0;
    const DWORD start = GetTickCount();
    for (;;) {
        if (FAILED(StringCchCopyW(line, kCommandCapacity, command))) {
            return StepFailed(ERROR_FILENAME_EXCED_RANGE);
        }
        DWORD error = RunChildProcess(application, line, NORMAL_PRIORITY_CLASS, kWaitWithMessages, texts, &exitCode);
        if (error != ERROR_SUCCESS) {
            return StepFailed(error);
        }
        if (exitCode != ERROR_INSTALL_ALREADY_RUNNING || !WaitToRetry(start, BoundMs(config))) {
            return ClassifyInstallerExit(exitCode);
        }
    }
}
