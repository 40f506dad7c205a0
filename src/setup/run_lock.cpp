#include "setup/run_lock.h"

#include "log/debug_log.h"

namespace {

// In the global namespace, so that runs in other sessions see it too: a
// deployment service in session 0 and a technician at the console. Both
// editions take the same lock.
const wchar_t kRunLockName[] = L"Global\\VANTIRO RAID Setup";

}  // namespace

bool TakeRunLock(HANDLE* lock)
{
    bool result = false;
    HANDLE mutex = NULL;
    DWORD wait = WAIT_FAILED;

    *lock = NULL;
    // A lock that cannot be opened (one of another user's that this one may
    // not use, or another object of that name) cannot keep runs apart either.
    mutex = CreateMutexW(NULL, FALSE, kRunLockName);
    if (mutex == NULL) {
        LogMessage(L"CreateMutex err=%d", static_cast<int>(GetLastError()));
        goto cleanup;
    }
    // A lock left by a run that was ended without releasing it comes back
    // abandoned: that run does nothing any more.
    wait = WaitForSingleObject(mutex, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        goto cleanup;
    }
    *lock = mutex;
    mutex = NULL;
    result = true;

cleanup:
    if (mutex != NULL) {
        CloseHandle(mutex);
    }
    return result;
}

void ReleaseRunLock(HANDLE lock)
{
    ReleaseMutex(lock);
    CloseHandle(lock);
}
