#include "driver/driver_pass.h"

#include "driver/device_search.h"
#include "driver/driver_version.h"
#include "log/debug_log.h"
#include "res/resource.h"
#include "config/setup_file.h"
#include "core/setup_state.h"
#include "core/system_libraries.h"
#include "ui/progress_window.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

// Installs the INF's driver on every present device with the hardware ID.
int InstallDriver(const wchar_t* infPath)
{
    BOOL reboot = FALSE;
    const NewdevFunctions* newdev = GetNewdev();
    BOOL installed = FALSE;
    DWORD error = ERROR_MOD_NOT_FOUND;
    // The update is forced: CheckDriverVersion has already found the packaged
    // driver newer, whatever rank Windows gives it. A quiet run has nobody to
    // answer Windows' own questions (whether to trust the publisher): where
    // Windows would ask, the update fails instead.
    DWORD flags = INSTALLFLAG_FORCE | (g_setup.quietMode == 1 ? INSTALLFLAG_NONINTERACTIVE : 0);
    if (newdev != NULL) {
        installed = newdev->updateDriverForPlugAndPlayDevices(NULL, g_setup.deviceHardwareId, infPath, flags, &reboot);
        error = GetLastError();
    }
    if (!installed) {
        LogMessage(L"UpdateDriverForPlugAndPlayDevices err=0x%x,Inf=%s,DevID=%s", static_cast<unsigned int>(error),
                   infPath, g_setup.deviceHardwareId);
        return kDriverNotUpdated;
    }
    LogMessage(L"Driver Installed successfully.\n");
    if (reboot) {
        LogMessage(L"(Reboot Required)\n");
        return kDriverNeedsRestart;
    }
    return kDriverCurrent;
}

int UpdateEntry(const DriverEntry& entry)
{
    ShowProgress(IDS_UPDATING_DRIVER);
    int result = UpdateDeviceDriver(entry.deviceName, entry.infPath, entry.hardwareId, kUpdateMode);
    CloseProgress();
    if (result == kDriverCurrent) {
        LogMessage(L"Driver installed(No reboot)");
    } else if (result == kDriverNeedsRestart) {
        LogMessage(L"Driver installed(Need to reboot)");
    } else {
        LogMessage(L"Failed to install driver");
    }
    return result;
}

}  // namespace

int UpdateDeviceDriver(const wchar_t* deviceName, const wchar_t* infPath, const wchar_t* hardwareId, int mode)
{
    StringCchCopyW(g_setup.deviceHardwareId, kPathCapacity, hardwareId);
    if (!FindExistingDevice(g_setup.deviceHardwareId)) {
        LogMessage(L"FindExistingDevice err(%s)", g_setup.deviceHardwareId);
        return kDeviceAbsent;
    }
    if ((mode & kDetectMode) != 0 || infPath == NULL) {
        LogMessage(L"Device found");
        return kDriverCurrent;
    }
    int check = CheckDriverVersion(infPath, deviceName);
    if (check != 1) {
        return check;
    }
    return InstallDriver(infPath);
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
        if ((mode & kDetectMode) != 0) {
            result = UpdateDeviceDriver(entry.deviceName, NULL, entry.hardwareId, mode);
        } else {
            result = UpdateEntry(entry);
        }
        if (result == kDriverCurrent || result == kDriverNeedsRestart) {
            return result;
        }
    }
    return result;
}
