#include "utility/installer_wait.h"

#include "config/setup_file.h"
#include "log/debug_log.h"
#include "ui/progress_window.h"

namespace {

// Windows Installer's service holds this mutex while it runs an
// installation's execute sequence, and removes it afterwards. In the global
// namespace, so that an installation of any session counts. Wine's Windows
// Installer never takes it.
const wchar_t kExecuteMutexName[] = L"Global\\_MSIExecute";
const DWORD kPollMs = 100;
// A Windows Installer that looks free and still answers 1618 is between two
// steps of another installation: the command runs again after a pause.
const DWORD kRetryPauseMs = 1000;

DWORD ReadBoundMs()
{
    return ReadInstallerWaitSeconds() * 1000;
}

DWORD TimeLeft(DWORD start, DWORD bound)
{
    // Unsigned subtraction stays right when the tick count wraps.
    DWORD elapsed = GetTickCount() - start;
    return elapsed < bound ? bound - elapsed : 0;
}

// The mutex is taken for the moment of the test only and released at once:
// an installation that asks for it meanwhile waits no longer than that.
bool TakeAndRelease(HANDLE mutex, DWORD timeoutMs)
{
    bool taken = WaitForChild(mutex, timeoutMs);
    if (taken) {
        ReleaseMutex(mutex);
    }
    return taken;
}

// true when no installation runs, or when the one running ends before
// timeoutMs. A mutex that this run may not open is held all the same, and is
// looked at again in steps.
bool WaitUntilFree(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD left = TimeLeft(start, timeoutMs);
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kExecuteMutexName);
        if (mutex != NULL) {
            bool free = TakeAndRelease(mutex, left);
            CloseHandle(mutex);
            return free;
        }
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return true;
        }
        if (left == 0) {
            return false;
        }
        Sleep(left < kPollMs ? left : kPollMs);
    }
}

int LogStillBusy(unsigned seconds)
{
    LogMessage(L"Windows Installer still busy after %u s err=%d", seconds, ERROR_INSTALL_ALREADY_RUNNING);
    return ERROR_INSTALL_ALREADY_RUNNING;
}

// The progress window's messages are handled while the run waits; the process
// handle is never signalled, so the wait lasts the whole pause.
void PauseWithProgress(DWORD pauseMs)
{
    WaitForChild(GetCurrentProcess(), pauseMs);
}

}  // namespace

int WaitForWindowsInstaller(UINT progressText)
{
    const DWORD bound = ReadBoundMs();
    if (bound == 0 || WaitUntilFree(0)) {
        return 0;
    }
    LogMessage(L"Waiting for Windows Installer: another installation is running");
    ShowProgress(progressText);
    const DWORD start = GetTickCount();
    bool free = WaitUntilFree(bound);
    unsigned seconds = static_cast<unsigned>((GetTickCount() - start) / 1000);
    CloseProgress();
    if (!free) {
        return LogStillBusy(seconds);
    }
    LogMessage(L"Windows Installer free after %u s", seconds);
    return 0;
}

bool WaitToRetry(DWORD start)
{
    const DWORD bound = ReadBoundMs();
    DWORD left = TimeLeft(start, bound);
    if (left == 0) {
        LogStillBusy(bound / 1000);
        return false;
    }
    LogMessage(L"Waiting for Windows Installer: another installation is running");
    PauseWithProgress(left < kRetryPauseMs ? left : kRetryPauseMs);
    if (!WaitUntilFree(TimeLeft(start, bound))) {
        LogStillBusy(bound / 1000);
        return false;
    }
    LogMessage(L"Windows Installer free: the command runs again");
    return true;
}
