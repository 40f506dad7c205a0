// The ZELMON utility's service: Windows Installer registers, starts and stops
// it, and each start and stop leaves a line in zelmsvc.log beside it. The test
// bed also runs it under another name, as a service that depends on zelmsvc.
#include <windows.h>

#include <string.h>
#include <strsafe.h>

namespace {

const wchar_t kServiceName[] = L"zelmsvc";

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status = {};
HANDLE stopEvent = nullptr;

void Report(DWORD state, DWORD exitCode, DWORD waitHintMs)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = waitHintMs;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : status.dwCheckPoint + 1;
    SetServiceStatus(statusHandle, &status);
}

// "started 2024-05-01 12:34:56.789 pid 1234", ASCII, one line per event.
void AppendLog(const char* event)
{
    wchar_t path[MAX_PATH + 16] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* slash = length == 0 || length >= MAX_PATH ? nullptr : wcsrchr(path, L'\\');
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char line[128] = "";
    StringCchPrintfA(line, ARRAYSIZE(line), "%s %04u-%02u-%02u %02u:%02u:%02u.%03u pid %lu\r\n", event, now.wYear,
                     now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                     GetCurrentProcessId());
    if (slash == nullptr || FAILED(StringCchCopyW(slash + 1, 16, L"zelmsvc.log")))
        return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    CloseHandle(file);
}

// A MailServer setting of "refuse-start" makes the service fail its start, as
// a service does whose settings it cannot work with.
bool RefusesToStart()
{
    wchar_t value[64] = L"";
    DWORD bytes = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings", L"MailServer",
                        RRF_RT_REG_SZ, nullptr, value, &bytes) == ERROR_SUCCESS &&
           wcscmp(value, L"refuse-start") == 0;
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            Report(SERVICE_STOP_PENDING, NO_ERROR, 3000);
            SetEvent(stopEvent);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD count, wchar_t** arguments)
{
    statusHandle = RegisterServiceCtrlHandlerExW(count > 0 ? arguments[0] : kServiceName, Handler, nullptr);
    if (statusHandle == nullptr)
        return;
    Report(SERVICE_START_PENDING, NO_ERROR, 3000);
    if (RefusesToStart()) {
        // A moment after the start was accepted, as a service fails once it
        // has read its settings: net has returned with 0 by then, whichever
        // edition of it ran, and only the service manager tells.
        Sleep(1000);
        AppendLog("refused");
        Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0);
        return;
    }
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent == nullptr) {
        Report(SERVICE_STOPPED, GetLastError(), 0);
        return;
    }
    AppendLog("started");
    Report(SERVICE_RUNNING, NO_ERROR, 0);
    WaitForSingleObject(stopEvent, INFINITE);
    AppendLog("stopped");
    CloseHandle(stopEvent);
    Report(SERVICE_STOPPED, NO_ERROR, 0);
}

}  // namespace

int main()
{
    wchar_t name[ARRAYSIZE(kServiceName)] = L"";
    StringCchCopyW(name, ARRAYSIZE(name), kServiceName);
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    // Started by hand rather than by the service manager: nothing to do.
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
