#include "driver/device_search.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "core/system_libraries.h"

namespace {

// The hardware-ID list is read into a buffer of this fixed size.
const DWORD kIdBufferBytes = 10000;

enum DeviceVerdict { kOtherDevice, kMatchingDevice, kSearchFailed };

// Walks a REG_MULTI_SZ list that is terminated within its buffer.
bool ListHoldsHardwareId(const wchar_t* list, size_t capacity, const wchar_t* wanted)
{
    size_t position = 0;
    while (position < capacity && list[position] != L'\0') {
        const wchar_t* id = list + position;
        LogMessage(L"Device=%s\n", id);
        if (wcscmp(id, wanted) == 0) {
            LogMessage(L"Device found\n");
            return true;
        }
        position += wcslen(id) + 1;
    }
    return false;
}

// One read into the search's buffer, of the fixed size: a list that does not
// fit it passes the device over.
DeviceVerdict ExamineDevice(const SetupApiFunctions* api, HDEVINFO devices, SP_DEVINFO_DATA* device,
                            const wchar_t* wanted, BYTE* buffer)
{
    DWORD type = 0;
    DWORD needed = 0;
    if (!api->getDeviceRegistryProperty(devices, device, SPDRP_HARDWAREID, &type, buffer, kIdBufferBytes, &needed)) {
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_DATA) {
            return kOtherDevice;
        }
        if (error == ERROR_INSUFFICIENT_BUFFER) {
            LogMessage(L"Hardware ID list too long(%d bytes), device passed over", static_cast<int>(needed));
            return kOtherDevice;
        }
        LogMessage(L"GetDeviceRegistryProperty");
        return kSearchFailed;
    }
    // Only the bytes read belong to this device; the buffer has room for a
    // terminator beyond them.
    size_t length = (needed < kIdBufferBytes ? needed : kIdBufferBytes) / sizeof(wchar_t);
    reinterpret_cast<wchar_t*>(buffer)[length] = L'\0';
    return ListHoldsHardwareId(reinterpret_cast<const wchar_t*>(buffer), length, wanted) ? kMatchingDevice
                                                                                         : kOtherDevice;
}

}  // namespace

int FindExistingDevice(const wchar_t* wanted)
{
    const SetupApiFunctions* api = GetSetupApi();
    HDEVINFO devices = INVALID_HANDLE_VALUE;
    if (api != NULL) {
        devices = api->getClassDevs(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    }
    if (devices == INVALID_HANDLE_VALUE) {
        LogMessage(L"GetClassDevs(All Present Devices)");
        return 0;
    }

    int found = 0;
    SP_DEVINFO_DATA device;
    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);
    // One buffer for every device, with room for a terminator beyond the
    // bytes handed to Windows.
    BYTE* buffer = static_cast<BYTE*>(LocalAlloc(LPTR, kIdBufferBytes + sizeof(wchar_t)));
    if (buffer == NULL) {
        LogMessage(L"Could not allocate memory\n");
    }
    for (DWORD index = 0; buffer != NULL; ++index) {
        if (!api->enumDeviceInfo(devices, index, &device)) {
            DWORD error = GetLastError();
            if (error != ERROR_SUCCESS && error != ERROR_NO_MORE_ITEMS) {
                LogMessage(L"EnumDeviceInfo");
            }
            break;
        }
        DeviceVerdict verdict = ExamineDevice(api, devices, &device, wanted, buffer);
        if (verdict != kOtherDevice) {
            found = verdict == kMatchingDevice ? 1 : 0;
            break;
        }
    }

    if (buffer != NULL) {
        LocalFree(buffer);
    }
    DWORD lastError = GetLastError();
    api->destroyDeviceInfoList(devices);
    SetLastError(lastError);
    return found;
}
