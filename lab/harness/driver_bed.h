// Drivers on the test machine: packages written from the sample driver files
// (drivers\<version>\vraid.sys), installed the way Windows does it, the
// service key setup.exe reads, and the newdev.dll double for the outcomes
// Wine's own driver install never gives (it always succeeds, never restarts).
#pragma once

#include <string>
#include <vector>

#include "testbed.h"

namespace testbed {

// <folder>\<infName> and <serviceName>.sys copied from sysSource beside it:
// a demand-start kernel service for hardwareId, models for NTx86 and NTamd64.
// driverVer is written as given ("05/01/2024,2.0.0.5"); folders are made.
bool WriteDriverPackage(const std::wstring& folder, const std::wstring& infName, const std::wstring& serviceName,
                        const std::wstring& hardwareId, const std::wstring& driverVer, const std::wstring& sysSource);
// Wine's builtin UpdateDriverForPlugAndPlayDevicesW with INSTALLFLAG_FORCE. It
// returns TRUE even when nothing was installed: check the installed version.
bool InstallDriver(const std::wstring& hardwareId, const std::wstring& infPath, BOOL* reboot);
// The version of the file that the service's ImagePath names; empty: none.
std::wstring ReadInstalledDriverVersion(const std::wstring& serviceName);
// As REG_EXPAND_SZ, behind the service manager's back.
bool SetServiceImagePath(const std::wstring& serviceName, const std::wstring& value);
// The service and its driver file go. Wine never copies a driver file over a
// newer one: an older driver needs this first.
bool UninstallDriver(const std::wstring& serviceName);

// The double's answer to UpdateDriverForPlugAndPlayDevicesW.
struct NewdevAnswer {
    bool succeed = true;
    bool reboot = false;
    DWORD lastError = 0;
    static NewdevAnswer Success(bool rebootNeeded)
    {
        NewdevAnswer answer;
        answer.reboot = rebootNeeded;
        return answer;
    }
    static NewdevAnswer Failure(DWORD error)
    {
        NewdevAnswer answer;
        answer.succeed = false;
        answer.lastError = error;
        return answer;
    }
};

// The double (doubles\newdev.dll) as System32\newdev.dll for setup.exe only,
// with its answer and an empty call log; Wine's placeholder is kept aside.
bool UseNewdevDouble(const NewdevAnswer& answer);
bool StopUsingNewdevDouble();
// One line per call: UpdateDriverForPlugAndPlayDevicesW, hardware ID, INF path,
// 0x<flags>, reboot|null and window=left,top,right,bottom:text per visible
// window of the caller, separated by tabs.
std::vector<std::wstring> ReadNewdevDoubleCalls();

// A RunOnce command that writes markerPath: Wine runs it when a restart is
// asked for (ExitWindowsEx with EWX_REBOOT), some 100 ms after the call.
bool PlantRestartMarker(const std::wstring& markerPath);
bool RemoveRestartMarker();
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);

}  // namespace testbed
