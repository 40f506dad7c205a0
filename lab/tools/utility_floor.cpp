// The least that an upgrade of the utility costs, the steps setup.exe takes
// and nothing around them: export the service's settings, remove the old
// version, install the new one into the same folder, import the settings,
// stop and start the service.
//   utility_floor <product code> <package> <target folder> <export file>
#include <windows.h>

#include "../doubles/hand_on.h"

namespace {

bool WaitForState(SC_HANDLE service, DWORD state)
{
    SERVICE_STATUS status = {};
    for (int tries = 0; tries < 600 && QueryServiceStatus(service, &status); ++tries) {
        if (status.dwCurrentState == state)
            return true;
        Sleep(50);
    }
    return false;
}

bool RestartService(const wchar_t* name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager == nullptr ? nullptr
                                           : OpenServiceW(manager, name, SERVICE_STOP | SERVICE_START |
                                                                             SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    bool ok = service != nullptr && ControlService(service, SERVICE_CONTROL_STOP, &status) &&
              WaitForState(service, SERVICE_STOPPED) && StartServiceW(service, 0, nullptr) &&
              WaitForState(service, SERVICE_RUNNING);
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    return ok;
}

}  // namespace

int wmain(int count, wchar_t** arguments)
{
    if (count != 5)
        return 2;
    static wchar_t command[4096];
    const wchar_t* settings = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings";
    StringCchPrintfW(command, ARRAYSIZE(command), L"/e \"%s\" %s", arguments[4], settings);
    if (RunAndWait(GetSystemWindowsDirectoryW, L"regedit.exe", command) != 0)
        return 10;
    StringCchPrintfW(command, ARRAYSIZE(command), L"/X%s REBOOT=ReallySuppress /qn", arguments[1]);
    if (RunAndWait(GetSystemDirectoryW, L"msiexec.exe", command) != 0)
        return 11;
    StringCchPrintfW(command, ARRAYSIZE(command), L"/I \"%s\" TARGETDIR=\"%s\" REBOOT=ReallySuppress /qn",
                     arguments[2], arguments[3]);
    if (RunAndWait(GetSystemDirectoryW, L"msiexec.exe", command) != 0)
        return 12;
    StringCchPrintfW(command, ARRAYSIZE(command), L"/s \"%s\"", arguments[4]);
    if (RunAndWait(GetSystemWindowsDirectoryW, L"regedit.exe", command) != 0)
        return 13;
    return RestartService(L"zelmsvc") ? 0 : 14;
}
