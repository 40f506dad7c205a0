#include "driver/driver_pass.h"

#include "driver/device_search.h"
#include "log/debug_log.h"
#include "setup/setup_file.h"
#include "setup/setup_state.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

int UpdateDeviceDriver(const wchar_t* deviceName, const wchar_t* infPath, const wchar_t* hardwareId, int mode)
{
    (void)deviceName;
    StringCchCopyW(g_setup.deviceHardwareId, kPathCapacity, hardwareId);
    if (!FindExistingDevice(g_setup.deviceHardwareId)) {
        LogMessage(L"FindExistingDevice err(%s)", g_setup.deviceHardwareId);
        return kDeviceAbsent;
    }
    if ((mode & kDetectMode) != 0 || infPath == NULL) {
        LogMessage(L"Device found");
        return kDriverCurrent;
    }
    // Updating the driver is not built yet.
    return kDriverNotUpdated;
}

int RunDriverPass(int mode)
{
    int result = kDeviceAbsent;
    int count = static_cast<int>(GetPrivateProfileIntW(L"Install", L"DriverNum", 4, g_setup.setupFilePath));
    DriverEntry entry;
    for (int index = 0; index < count; ++index) {
        if (ReadDriverEntry(g_setup.programDirectory, g_setup.setupFilePath, index, &entry) != 0) {
            LogMessage(L"No device defined in ini file(%d)", index);
            return kEntryUnreadable;
        }
        result = UpdateDeviceDriver(entry.deviceName, (mode & kDetectMode) != 0 ? NULL : entry.infPath,
                                    entry.hardwareId, mode);
        if (result == kDriverCurrent || result == kDriverNeedsRestart) {
            return result;
        }
    }
    return result;
}
