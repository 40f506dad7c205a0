// The ZELMON utility's service as far as the tests need it: a real service
// that Windows Installer registers, starts and stops, and that leaves one line
// per start and stop in zelmsvc.log beside itself, so that a test can tell
// whether it was restarted.
#include <windows.h>

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
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
        status.dwCheckPoint = 0;
    } else {
        ++status.dwCheckPoint;
    }
    SetServiceStatus(statusHandle, &status);
}

// "started 2024-05-01 12:34:56.789 pid 1234", ASCII, one line per event.
void AppendLog(const char* event)
{
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    if (length == 0 || length >= ARRAYSIZE(path))
        return;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash == nullptr)
        return;
    slash[1] = L'\0';
    if (FAILED(StringCchCatW(path, ARRAYSIZE(path), L"zelmsvc.log")))
        return;
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char line[128] = "";
    if (FAILED(StringCchPrintfA(line, ARRAYSIZE(line), "%s %04u-%02u-%02u %02u:%02u:%02u.%03u pid %lu\r\n", event,
                                now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                                GetCurrentProcessId())))
        return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    size_t size = 0;
    StringCchLengthA(line, ARRAYSIZE(line), &size);
    WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
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

DWORD WINAPI Handler(DWORD control, DWORD eventType, void* eventData, void* context)
{
    (void)eventType;
    (void)eventData;
    (void)context;
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

void WINAPI ServiceMain(DWORD argc, wchar_t** argv)
{
    (void)argc;
    (void)argv;
    statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, Handler, nullptr);
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
