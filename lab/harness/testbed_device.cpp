// Devices and drivers of the current prefix, for scripts that prepare the
// machine before they start setup.exe.
#include "driver_bed.h"

#include <setupapi.h>

namespace {

int Done(bool ok, const wchar_t* what)
{
    if (!ok)
        testbed::PrintLine(std::wstring(what) + L" failed, error " + std::to_wstring(GetLastError()));
    return ok ? 0 : 1;
}

// What setup.exe's device search sees: one instance ID a line.
int List()
{
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; set != INVALID_HANDLE_VALUE && SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        wchar_t id[512] = L"";
        if (SetupDiGetDeviceInstanceIdW(set, &data, id, ARRAYSIZE(id), nullptr))
            testbed::PrintLine(id);
    }
    if (set != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(set);
    return Done(set != INVALID_HANDLE_VALUE, L"list");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    std::wstring instanceId;
    BOOL reboot = FALSE;
    if (command == L"create" && argc > 2) {
        int result =
            Done(testbed::CreateRootDevice(std::vector<std::wstring>(argv + 2, argv + argc), &instanceId), L"create");
        if (result == 0)
            testbed::PrintLine(instanceId);
        return result;
    }
    if (command == L"list" && argc == 2)
        return List();
    // The INF is <service>.inf.
    if (command == L"package" && argc == 7)
        return Done(
            testbed::WriteDriverPackage(argv[2], std::wstring(argv[3]) + L".inf", argv[3], argv[4], argv[5], argv[6]),
            L"package");
    if (command == L"install-driver" && argc == 4)
        return Done(testbed::InstallDriver(argv[2], argv[3], &reboot), L"install-driver");
    if (command == L"uninstall-driver" && argc == 3)
        return Done(testbed::UninstallDriver(argv[2]), L"uninstall-driver");
    testbed::PrintLine(
        L"usage: testbed_device create <hardwareId>...\n"
        L"       testbed_device list\n"
        L"       testbed_device package <folder> <service> <hardwareId> <driverVer> <sysFile>\n"
        L"       testbed_device install-driver <hardwareId> <infPath>\n"
        L"       testbed_device uninstall-driver <service>");
    return 2;
}
