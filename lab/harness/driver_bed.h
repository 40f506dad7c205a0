// Drivers on the test machine: packages of drivers\<version>\vraid.sys, Windows'
// own driver install, and the newdev.dll double for failure and restart.
#pragma once

#include <string>
#include <vector>

#include "testbed.h"

namespace testbed {

// <folder>\<infName> for hardwareId (a demand-start kernel service, models for
// NTx86 and NTamd64, DriverVer as given) and sysSource as <serviceName>.sys.
bool WriteDriverPackage(const std::wstring& folder, const std::wstring& infName, const std::wstring& serviceName,
                        const std::wstring& hardwareId, const std::wstring& driverVer, const std::wstring& sysSource);
// UpdateDriverForPlugAndPlayDevicesW, forced; TRUE even when nothing was installed.
bool InstallDriver(const std::wstring& hardwareId, const std::wstring& infPath, BOOL* reboot);
// The version of the file that the service's ImagePath names; empty: none.
std::wstring ReadInstalledDriverVersion(const std::wstring& serviceName);
// As REG_EXPAND_SZ, behind the service manager's back.
bool SetServiceImagePath(const std::wstring& serviceName, const std::wstring& value);
// The service and its driver file go, as an older driver needs first.
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

// The version.dll double (doubles\version.dll beside this program), put in
// place and taken away as the newdev double is: the program under test gets
// a version block of no driver image (*.sys), though its size is told.
bool UseVersionDouble();
bool StopUsingVersionDouble();

// A RunOnce command that writes markerPath, run some 100 ms after a restart is asked for.
bool PlantRestartMarker(const std::wstring& markerPath);
bool RemoveRestartMarker();
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);

}  // namespace testbed
