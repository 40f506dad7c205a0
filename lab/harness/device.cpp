#include "testbed.h"

// initguid.h first so that devguid.h defines the class GUIDs here instead of
// needing a library that MinGW and MSVC name differently.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

namespace testbed {
namespace {

const DWORD kInstanceIdChars = 512;

std::wstring ToMultiSz(const std::vector<std::wstring>& items)
{
    std::wstring out;
    for (const auto& item : items) {
        out += item;
        out.push_back(L'\0');
    }
    // An empty list still needs two terminators to be a well-formed REG_MULTI_SZ.
    if (items.empty())
        out.push_back(L'\0');
    out.push_back(L'\0');
    return out;
}

std::vector<std::wstring> FromMultiSz(const std::vector<wchar_t>& chars)
{
    std::vector<std::wstring> out;
    size_t i = 0;
    while (i < chars.size() && chars[i] != L'\0') {
        size_t length = wcsnlen(&chars[i], chars.size() - i);
        out.emplace_back(&chars[i], length);
        i += length + 1;
    }
    return out;
}

// A cleanup that succeeds would reset the error the caller wants to report.
void DestroyKeepingError(HDEVINFO set)
{
    DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    SetLastError(error);
}

bool ReadInstanceId(HDEVINFO set, SP_DEVINFO_DATA* data, std::wstring* instanceId)
{
    wchar_t buffer[kInstanceIdChars] = L"";
    bool ok = SetupDiGetDeviceInstanceIdW(set, data, buffer, kInstanceIdChars, nullptr) != FALSE;
    if (ok)
        *instanceId = buffer;
    return ok;
}

bool ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* data, std::vector<std::wstring>* ids)
{
    DWORD type = 0;
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(set, data, SPDRP_HARDWAREID, &type, nullptr, 0, &bytes);
    // The extra terminators keep a value stored without them readable.
    std::vector<wchar_t> chars(bytes / sizeof(wchar_t) + 2, L'\0');
    bool ok =
        bytes != 0 && SetupDiGetDeviceRegistryPropertyW(set, data, SPDRP_HARDWAREID, &type,
                                                        reinterpret_cast<BYTE*>(chars.data()), bytes, nullptr) != FALSE;
    if (ok)
        *ids = FromMultiSz(chars);
    return ok;
}

// A null hardwareIds leaves the device without the property.
bool CreateDevice(const std::wstring* hardwareIds, std::wstring* instanceId)
{
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof(data);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SCSIADAPTER, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    bool ok =
        SetupDiCreateDeviceInfoW(set, L"SCSIAdapter", &GUID_DEVCLASS_SCSIADAPTER, nullptr, nullptr, DICD_GENERATE_ID,
                                 &data) &&
        (hardwareIds == nullptr || SetupDiSetDeviceRegistryPropertyW(
                                       set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(hardwareIds->data()),
                                       static_cast<DWORD>(hardwareIds->size() * sizeof(wchar_t)))) &&
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data) && ReadInstanceId(set, &data, instanceId);
    DestroyKeepingError(set);
    return ok;
}

}  // namespace

bool CreateRootDevice(const std::wstring& hardwareId, std::wstring* instanceId)
{
    return CreateRootDevice(std::vector<std::wstring>{hardwareId}, instanceId);
}

bool CreateRootDevice(const std::vector<std::wstring>& hardwareIds, std::wstring* instanceId)
{
    std::wstring multiSz = ToMultiSz(hardwareIds);
    return CreateDevice(&multiSz, instanceId);
}

bool CreateRootDeviceWithoutHardwareId(std::wstring* instanceId)
{
    return CreateDevice(nullptr, instanceId);
}

bool RemoveDevice(const std::wstring& instanceId)
{
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof(data);
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    bool ok = SetupDiOpenDeviceInfoW(set, instanceId.c_str(), nullptr, 0, &data) &&
              SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
    DestroyKeepingError(set);
    return ok;
}

std::vector<DeviceInfo> ListPresentDevices()
{
    std::vector<DeviceInfo> devices;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        DeviceInfo device;
        if (!ReadInstanceId(set, &data, &device.instanceId))
            continue;
        device.hasHardwareId = ReadHardwareIds(set, &data, &device.hardwareIds);
        devices.push_back(device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

bool IsDevicePresent(const std::wstring& instanceId)
{
    bool present = false;
    for (const auto& device : ListPresentDevices()) {
        present =
            present || CompareStringOrdinal(device.instanceId.c_str(), -1, instanceId.c_str(), -1, TRUE) == CSTR_EQUAL;
    }
    return present;
}

}  // namespace testbed
