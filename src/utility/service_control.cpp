#include "utility/service_control.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "system/child_process.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kServiceName[] = L"zelmsvc";
// zelmsvc stops and starts within tens of milliseconds: a coarse poll would
// add most of its own interval to every stop and start of an upgrade, and a
// status query costs next to nothing.
const DWORD kServicePollMs = 25;
// How long a service may take to reach the state it was asked for.
const DWORD kServiceStateBoundMs = 2 * 60 * 1000;

// The state that the service settles in, once it has left the pending states
// or the bound has passed; 0 when it cannot be asked. The progress window's
// messages are handled meanwhile.
DWORD WaitForSettledState(SC_HANDLE service)
{
    SERVICE_STATUS status;
    const DWORD start = GetTickCount();
    while (QueryServiceStatus(service, &status)) {
        DWORD state = status.dwCurrentState;
        bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                       state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
        if (!pending || GetTickCount() - start >= kServiceStateBoundMs) {
            return state;
        }
        PauseWithMessages(kServicePollMs);
    }
    return 0;
}

// 0 when the service is stopped afterwards, also when it did not run.
int StopOne(SC_HANDLE manager, const wchar_t* name)
{
    SERVICE_STATUS status;
    int result = 0;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service == NULL) {
        result = static_cast<int>(GetLastError());
        LogMessage(L"Service %s not stopped err=%d", name, result);
        return result;
    }
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        result = static_cast<int>(GetLastError());
    } else if (WaitForSettledState(service) != SERVICE_STOPPED) {
        result = ERROR_SERVICE_REQUEST_TIMEOUT;
    }
    if (result != 0) {
        LogMessage(L"Service %s not stopped err=%d", name, result);
    }
    CloseServiceHandle(service);
    return result;
}

// 0 when the service runs afterwards.
int StartOne(SC_HANDLE manager, const wchar_t* name)
{
    int result = 0;
    DWORD state = 0;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_START | SERVICE_QUERY_STATUS);
    if (service == NULL) {
        result = static_cast<int>(GetLastError());
        LogMessage(L"Service %s not started err=%d", name, result);
        return result;
    }
    if (!StartServiceW(service, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        result = static_cast<int>(GetLastError());
        LogMessage(L"Service %s not started err=%d", name, result);
    } else {
        state = WaitForSettledState(service);
        if (state != SERVICE_RUNNING) {
            result = state == SERVICE_START_PENDING ? ERROR_SERVICE_REQUEST_TIMEOUT : ERROR_SERVICE_NOT_ACTIVE;
            LogMessage(L"Service %s is not running", name);
        }
    }
    CloseServiceHandle(service);
    return result;
}

bool IsListed(const DependentServices& list, const wchar_t* name)
{
    for (int index = 0; index < list.count; ++index) {
        if (_wcsicmp(list.names[index], name) == 0) {
            return true;
        }
    }
    return false;
}

// A service of a name that does not fit was never registered.
void AddToList(DependentServices* list, const wchar_t* name)
{
    if (IsListed(*list, name)) {
        return;
    }
    if (list->count == kDependentCapacity) {
        LogMessage(L"Service %s not started again: more than %d dependents", name, kDependentCapacity);
        return;
    }
    if (SUCCEEDED(StringCchCopyW(list->names[list->count], kServiceNameCapacity, name))) {
        ++list->count;
    }
}

// The running dependents, in the order to stop them: Windows lists them in
// the reverse order of their start.
int ListRunningDependents(SC_HANDLE manager, DependentServices* list)
{
    int result = 0;
    DWORD needed = 0;
    DWORD count = 0;
    ENUM_SERVICE_STATUSW* services = NULL;
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ENUMERATE_DEPENDENTS);
    if (service == NULL) {
        // A service that is not there has nothing running on it.
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : static_cast<int>(GetLastError());
    }
    if (EnumDependentServicesW(service, SERVICE_ACTIVE, NULL, 0, &needed, &count)) {
        goto cleanup;
    }
    if (GetLastError() != ERROR_MORE_DATA) {
        result = static_cast<int>(GetLastError());
        goto cleanup;
    }
    services = static_cast<ENUM_SERVICE_STATUSW*>(LocalAlloc(LPTR, needed));
    if (services == NULL) {
        result = ERROR_NOT_ENOUGH_MEMORY;
        goto cleanup;
    }
    if (!EnumDependentServicesW(service, SERVICE_ACTIVE, services, needed, &needed, &count)) {
        result = static_cast<int>(GetLastError());
        goto cleanup;
    }
    for (DWORD index = 0; index < count; ++index) {
        AddToList(list, services[index].lpServiceName);
    }

cleanup:
    if (services != NULL) {
        LocalFree(services);
    }
    CloseServiceHandle(service);
    return result;
}

// zelmsvc cannot stop while a service that depends on it runs.
int StopWithDependents(SC_HANDLE manager, DependentServices* stopped)
{
    DependentServices running;
    running.count = 0;
    int result = ListRunningDependents(manager, &running);
    for (int index = 0; result == 0 && index < running.count; ++index) {
        result = StopOne(manager, running.names[index]);
        if (result == 0) {
            AddToList(stopped, running.names[index]);
        }
    }
    return result == 0 ? StopOne(manager, kServiceName) : result;
}

// In the reverse order of the stop, so that a dependent of a dependent
// starts after the service it needs.
int StartWithDependents(SC_HANDLE manager, const DependentServices& dependents)
{
    int result = StartOne(manager, kServiceName);
    if (result == 0) {
        LogMessage(L"Service %s restarted", kServiceName);
    }
    for (int index = dependents.count - 1; index >= 0; --index) {
        int started = StartOne(manager, dependents.names[index]);
        if (started == 0) {
            LogMessage(L"Service %s started again", dependents.names[index]);
        }
        result = result != 0 ? result : started;
    }
    return result;
}

}  // namespace

int RecordRunningDependents(DependentServices* dependents)
{
    int result = 0;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) {
        result = static_cast<int>(GetLastError());
    } else {
        result = ListRunningDependents(manager, dependents);
        CloseServiceHandle(manager);
    }
    if (result != 0) {
        LogMessage(L"Dependents of service %s not listed err=%d", kServiceName, result);
    }
    return result;
}

int RestartService(const DependentServices& recorded)
{
    DependentServices dependents = recorded;
    int result = 0;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) {
        result = static_cast<int>(GetLastError());
        LogMessage(L"Service %s not restarted err=%d", kServiceName, result);
        return result;
    }
    // A service that cannot be stopped still gets its dependents back, but it
    // runs with the settings it read at its start.
    if (StopWithDependents(manager, &dependents) != 0) {
        LogMessage(L"Service %s did not stop; it runs with its old settings", kServiceName);
    }
    result = StartWithDependents(manager, dependents);
    CloseServiceHandle(manager);
    return result;
}
