// Makes and removes root-enumerated devices in the current Wine prefix, for
// scenario scripts that prepare the machine before starting setup.exe.
#include "driver_bed.h"
#include "testbed.h"

#include <string>

namespace {

int Usage()
{
    testbed::PrintLine(
        L"usage: testbed_device create <hardwareId>...   (none: an empty ID list)\n"
        L"       testbed_device create --no-hardware-id\n"
        L"       testbed_device remove <instanceId>\n"
        L"       testbed_device list\n"
        L"       testbed_device package <folder> <service> <hardwareId> <driverVer> <sysFile>\n"
        L"       testbed_device install-driver <hardwareId> <infPath>\n"
        L"       testbed_device uninstall-driver <service>");
    return 2;
}

int Failed(const wchar_t* what)
{
    DWORD error = GetLastError();
    testbed::PrintLine(std::wstring(what) + L" failed, error " + std::to_wstring(error));
    return 1;
}

int Create(int argc, wchar_t** argv)
{
    std::wstring instanceId;
    bool ok = argc == 3 && std::wstring(argv[2]) == L"--no-hardware-id"
                  ? testbed::CreateRootDeviceWithoutHardwareId(&instanceId)
                  : testbed::CreateRootDevice(std::vector<std::wstring>(argv + 2, argv + argc), &instanceId);
    if (!ok)
        return Failed(L"create");
    testbed::PrintLine(instanceId);
    return 0;
}

int Remove(const wchar_t* instanceId)
{
    return testbed::RemoveDevice(instanceId) ? 0 : Failed(L"remove");
}

int List()
{
    for (const auto& device : testbed::ListPresentDevices()) {
        std::wstring ids = device.hasHardwareId ? L"" : L"(no hardware ID)";
        for (const auto& id : device.hardwareIds)
            ids += (ids.empty() ? L"" : L", ") + id;
        testbed::PrintLine(device.instanceId + L" | " + ids);
    }
    return 0;
}

// A driver package in folder: <service>.inf with the DriverVer value and <service>.sys.
int Package(wchar_t** argv)
{
    std::wstring folder = argv[2];
    bool ok = testbed::WriteDriverPackage(folder, std::wstring(argv[3]) + L".inf", argv[3], argv[4], argv[5], argv[6]);
    return ok ? 0 : Failed(L"package");
}

int InstallDriver(const wchar_t* hardwareId, const wchar_t* infPath)
{
    BOOL reboot = FALSE;
    return testbed::InstallDriver(hardwareId, infPath, &reboot) ? 0 : Failed(L"install-driver");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring command = argc > 1 ? argv[1] : L"";
    int result = 0;
    if (command == L"create") {
        result = Create(argc, argv);
    } else if (command == L"remove" && argc == 3) {
        result = Remove(argv[2]);
    } else if (command == L"list" && argc == 2) {
        result = List();
    } else if (command == L"package" && argc == 7) {
        result = Package(argv);
    } else if (command == L"install-driver" && argc == 4) {
        result = InstallDriver(argv[2], argv[3]);
    } else if (command == L"uninstall-driver" && argc == 3) {
        result = testbed::UninstallDriver(argv[2]) ? 0 : Failed(L"uninstall-driver");
    } else {
        result = Usage();
    }
    return result;
}
