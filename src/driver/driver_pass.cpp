#include "driver/driver_pass.h"

#include <wchar.h>

#include "core/process_state.h"
#include "core/system_libraries.h"
#include "driver/device_search.h"
#include "driver/driver_version.h"
#include "log/debug_log.h"
#include "res/resource.h"
#include "ui/progress_window.h"

namespace {

// Installs the INF's driver on every present device with the hardware ID.
int InstallDriver(const DriverEntry& entry)
{
    BOOL reboot = FALSE;
    const NewdevFunctions* newdev = GetNewdev();
    BOOL installed = FALSE;
    DWORD error = ERROR_MOD_NOT_FOUND;
    // The update is forced: CheckDriverVersion has already found the packaged
    // driver newer, whatever rank Windows gives it. A quiet run has nobody to
    // answer Windows' own questions (whether to trust the publisher): where
    // Windows would ask, the update fails instead.
    DWORD flags = INSTALLFLAG_FORCE | (g_process.quiet ? INSTALLFLAG_NONINTERACTIVE : 0);
    if (newdev != NULL) {
        installed = newdev->updateDriverForPlugAndPlayDevices(NULL, entry.hardwareId, entry.infPath, flags, &reboot);
        error = GetLastError();
    }
    if (!installed) {
        LogMessage(L"UpdateDriverForPlugAndPlayDevices err=0x%x,Inf=%s,DevID=%s", static_cast<unsigned int>(error),
                   entry.infPath, entry.hardwareId);
        return kDriverNotUpdated;
    }
    LogMessage(L"Driver Installed successfully.\n");
    if (reboot) {
        LogMessage(L"(Reboot Required)\n");
        return kDriverNeedsRestart;
    }
    return kDriverCurrent;
}

// The same update again would only wait for the same restart.
bool IsWaitingForRestart(const DriverEntry& entry, const wchar_t* version, const PendingDriverUpdate& pending)
{
    return pending.waiting && _wcsicmp(pending.infPath, entry.infPath) == 0 && wcscmp(pending.version, version) == 0;
}

int UpdateDeviceDriver(const DriverEntry& entry, int mode, const PendingDriverUpdate& pending, DriverPassReport* report)
{
    if (!FindExistingDevice(entry.hardwareId)) {
        LogMessage(L"FindExistingDevice err(%s)", entry.hardwareId);
        return kDeviceAbsent;
    }
    if ((mode & kDetectMode) != 0) {
        LogMessage(L"Device found");
        return kDriverCurrent;
    }
    int check = CheckDriverVersion(entry.infPath, entry.deviceName, report->version);
    if (check == 1 && IsWaitingForRestart(entry, report->version, pending)) {
        LogMessage(L"Driver update already done; Windows has not restarted yet");
        return kDriverNeedsRestart;
    }
    if (check != 1) {
        return check;
    }
    int result = InstallDriver(entry);
    report->updated = result == kDriverCurrent || result == kDriverNeedsRestart;
    return result;
}

int UpdateEntry(const DriverEntry& entry, const PendingDriverUpdate& pending, DriverPassReport* report)
{
    ShowProgress(IDS_UPDATING_DRIVER);
    int result = UpdateDeviceDriver(entry, kUpdateMode, pending, report);
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

// What was read of an entry, as the pass comes to it.
bool LogEntry(int index, const DriverEntry& entry, const wchar_t* setupFilePath)
{
    LogMessage(L"Section=Driver%d", index);
    if (entry.status == kEntryWithoutName) {
        LogMessage(L"No items in section %s of %s", L"Install", setupFilePath);
    } else if (entry.tooLong == kDriverEntryKeys[2]) {
        LogMessage(L"Inf path too long in section Driver%d", index);
    } else if (entry.tooLong != NULL) {
        LogMessage(L"%s too long in section Driver%d", entry.tooLong, index);
    } else {
        if (!entry.infNamed) {
            LogMessage(L"Inf name=%s", entry.infPath);
        }
        LogMessage(L"Device ID=%s", entry.hardwareId);
    }
    if (entry.status != kEntryRead) {
        LogMessage(L"No device defined in ini file(%d)", index);
        return false;
    }
    return true;
}

}  // namespace

int RunDriverPass(const SetupConfig& config, int mode, const PendingDriverUpdate& pending, DriverPassReport* report)
{
    int result = kDeviceAbsent;
    report->entry = -1;
    report->updated = false;
    report->restartPending = false;
    for (int index = 0; index < config.driverCount; ++index) {
        const DriverEntry& entry = config.drivers[index];
        if (!LogEntry(index, entry, config.setupFilePath)) {
            return kEntryUnreadable;
        }
        result = (mode & kDetectMode) != 0 ? UpdateDeviceDriver(entry, mode, pending, report)
                                           : UpdateEntry(entry, pending, report);
        if (result == kDriverCurrent || result == kDriverNeedsRestart) {
            report->entry = index;
            report->restartPending = result == kDriverNeedsRestart;
            return result;
        }
    }
    return result;
}
