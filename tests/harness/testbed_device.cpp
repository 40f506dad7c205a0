// Makes and removes root-enumerated devices in the current Wine prefix, for
// scenario scripts that prepare the machine before starting setup.exe.
#include "testbed.h"

#include <string>

namespace {

int Usage()
{
    testbed::PrintLine(
        L"usage: testbed_device create <hardwareId>...   (none: an empty ID list)\n"
        L"       testbed_device create --no-hardware-id\n"
        L"       testbed_device remove <instanceId>\n"
        L"       testbed_device list");
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
    } else {
        result = Usage();
    }
    return result;
}
