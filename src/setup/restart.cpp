#include "setup/restart.h"

#include <windows.h>

#include "log/debug_log.h"
#include "res/resource.h"
#include "core/process_state.h"
#include "core/system_libraries.h"
#include "ui/message_boxes.h"

namespace {

// Without the shutdown privilege Windows refuses the restart.
bool EnableShutdownPrivilege()
{
    bool enabled = false;
    HANDLE token = NULL;
    TOKEN_PRIVILEGES privileges;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return false;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        goto cleanup;
    }
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    // Also catches ERROR_NOT_ALL_ASSIGNED, the partial success of an account
    // that does not hold the privilege.
    enabled = GetLastError() == ERROR_SUCCESS;

cleanup:
    CloseHandle(token);
    return enabled;
}

}  // namespace

int RebootSystem()
{
    if (g_process.quiet) {
        return 0;
    }
    if (!AskYesNo(IDS_ASK_RESTART)) {
        return 0;
    }
    if (!EnableShutdownPrivilege()) {
        return 0;
    }
    LogMessage(L"Reboot...");
    // The question was shown, so the window functions are there.
    if (!GetUser32()->exitWindowsEx(EWX_SHUTDOWN | EWX_REBOOT,
                                    SHTDN_REASON_MAJOR_SOFTWARE | SHTDN_REASON_MINOR_HARDWARE_DRIVER)) {
        LogMessage(L"Failed to reboot err %d", static_cast<int>(GetLastError()));
        return 0;
    }
    return 1;
}
