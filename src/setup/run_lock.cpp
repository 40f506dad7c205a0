#include "setup/run_lock.h"

#include <aclapi.h>
#include <sddl.h>

#include "log/debug_log.h"

namespace {

// In the global namespace, so that runs in other sessions see it too: a
// deployment service in session 0 and a technician at the console. Both
// editions take the same lock.
const wchar_t kRunLockName[] = L"Global\\VANTIRO RAID Setup";
// Owned by Administrators and open to SYSTEM and Administrators only. Any user
// may create a name in Global\ first: a lock of that name whose owner is
// neither is not another setup's, and waiting for it would let anyone stop
// every run.
const wchar_t kAdministratorsLock[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";
const DWORD kLockRights = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;

bool IsAdministratorsOwner(HANDLE mutex)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    bool result = false;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL, &descriptor) !=
        ERROR_SUCCESS) {
        return false;
    }
    result = owner != NULL &&
             (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid));
    LocalFree(descriptor);
    return result;
}

// The lock, created or opened; NULL when the name is someone else's.
HANDLE OpenAdministratorsLock()
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    SECURITY_ATTRIBUTES attributes;
    HANDLE mutex = NULL;
    DWORD error = ERROR_SUCCESS;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsLock, SDDL_REVISION_1, &descriptor,
                                                              NULL)) {
        LogMessage(L"Run lock not taken err=%d", static_cast<int>(GetLastError()));
        return NULL;
    }
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    mutex = CreateMutexExW(&attributes, kRunLockName, 0, kLockRights);
    error = GetLastError();
    LocalFree(descriptor);
    if (mutex == NULL) {
        // One that denies administrators was made by someone else.
        LogMessage(L"Run lock %s not taken err=%d: it is no setup's, the run goes on without it", kRunLockName,
                   static_cast<int>(error));
        return NULL;
    }
    if (error == ERROR_ALREADY_EXISTS && !IsAdministratorsOwner(mutex)) {
        LogMessage(
            L"Run lock %s is owned by someone who is no administrator: it is no setup's, the run goes on "
            L"without it",
            kRunLockName);
        CloseHandle(mutex);
        return NULL;
    }
    return mutex;
}

}  // namespace

bool TakeRunLock(HANDLE* lock)
{
    HANDLE mutex = OpenAdministratorsLock();
    DWORD wait = WAIT_FAILED;
    *lock = NULL;
    if (mutex == NULL) {
        return true;
    }
    // A lock left by a run that was ended without releasing it comes back
    // abandoned: that run does nothing any more.
    wait = WaitForSingleObject(mutex, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return false;
    }
    *lock = mutex;
    return true;
}

void ReleaseRunLock(HANDLE lock)
{
    if (lock != NULL) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
}
