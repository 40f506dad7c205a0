// Driver state of the test machine: driver packages written from the sample
// driver files (build/bin/drivers/<version>/vraid.sys), drivers installed the
// way Windows does it, the service key that setup.exe reads, and a newdev.dll
// double for the outcomes that Wine's own driver install never gives.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testbed {

// Writes <folder>\<infName> and copies sysSource beside it as
// <serviceName>.sys. The INF installs that file into %SystemRoot%\System32\drivers
// and a demand-start kernel service <serviceName> for hardwareId. driverVer is
// the whole DriverVer value, written as given (e.g. L"05/01/2024,2.0.0.5").
// The models are listed for x86 and for x64 (NTx86, NTamd64), so that one
// package serves a 32-bit and a 64-bit test machine with the sys file built
// for it.
// The folder and its parents are made when missing.
bool WriteDriverPackage(const std::wstring& folder, const std::wstring& infName, const std::wstring& serviceName,
                        const std::wstring& hardwareId, const std::wstring& driverVer, const std::wstring& sysSource);

// The real newdev.dll's UpdateDriverForPlugAndPlayDevicesW with
// INSTALLFLAG_FORCE, loaded from the system folder by this process. Under Wine
// the test process always gets the builtin, even while the double is in place.
// Wine 8's builtin returns TRUE and *reboot FALSE even when no present device
// has the ID, the INF is missing or lists no model for it: check the outcome
// with ReadInstalledDriverVersion.
bool InstallDriver(const std::wstring& hardwareId, const std::wstring& infPath, BOOL* reboot);

// "a.b.c.d" from a file's VS_FIXEDFILEINFO; empty when there is none.
std::wstring ReadFileVersion(const std::wstring& path);
// The file that HKLM\SYSTEM\CurrentControlSet\Services\<serviceName> ImagePath
// names, as Windows resolves it ("System32\...", "\SystemRoot\...",
// "%SystemRoot%\...", "\??\C:\..." or a full path); empty when there is none.
std::wstring InstalledDriverPath(const std::wstring& serviceName);
// ReadFileVersion(InstalledDriverPath(serviceName)).
std::wstring ReadInstalledDriverVersion(const std::wstring& serviceName);
// Stored as REG_EXPAND_SZ, as Windows stores it.
bool SetServiceImagePath(const std::wstring& serviceName, const std::wstring& value);
// Both succeed when there is nothing left to delete. They edit the registry
// behind the service manager's back (Wine's keeps its own copy): a later
// driver install through it writes the whole key again.
bool DeleteServiceImagePath(const std::wstring& serviceName);
bool DeleteServiceKey(const std::wstring& serviceName);
// Deletes the service through the service manager, and the driver file (the
// one ImagePath names, else System32\drivers\<serviceName>.sys). Wine never
// copies a driver file over a newer one, so a case that needs an older driver
// in place must start from none.
bool UninstallDriver(const std::wstring& serviceName);

// What the newdev.dll double answers to UpdateDriverForPlugAndPlayDevicesW/A.
struct NewdevAnswer {
    bool succeed = true;
    bool reboot = false;  // *reboot on success
    DWORD lastError = 0;  // SetLastError on failure, e.g. 0xE0000203 or ERROR_FILE_NOT_FOUND
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

// Where the built double lies by default: doubles\newdev.dll beside this program.
std::wstring DefaultNewdevDoublePath();
// Puts the double in place as %SystemRoot%\System32\newdev.dll (Wine's
// placeholder is kept as newdev.dll.testbed-backup), makes Wine load it into
// programs named setup.exe, sets its answer and empties its call log. Every
// other program keeps Wine's builtin.
bool UseNewdevDouble(const NewdevAnswer& answer, const std::wstring& doublePath = DefaultNewdevDoublePath());
// Changes only the answer of a double already in use.
bool SetNewdevAnswer(const NewdevAnswer& answer);
// Back to Wine's builtin for setup.exe, answer and log gone, placeholder back.
bool StopUsingNewdevDouble();
// One line per call, in order, fields separated by tabs:
//   UpdateDriverForPlugAndPlayDevicesW <hardwareId> <infPath> 0x<flags, 8 hex digits> <reboot|null>
// where the last field tells whether the caller passed a reboot pointer (the A
// variant logs its arguments converted from the ANSI code page).
std::vector<std::wstring> ReadNewdevDoubleCalls();

// The version.dll double (doubles\version.dll beside this program), put in
// place and taken away as the newdev double is: programs named setup.exe get
// a version block of no driver image (*.sys), though its size is told.
bool UseVersionDouble();
bool StopUsingVersionDouble();

// Under Wine 8, ExitWindowsEx with EWX_REBOOT returns TRUE at once; then
// wineboot ends every process that owns a visible window (after
// WM_QUERYENDSESSION and WM_ENDSESSION) and runs the HKLM RunOnce commands, as
// at a restart. Without EWX_REBOOT (shutdown, logoff) the RunOnce commands
// stay. So a RunOnce command that writes markerPath tells that a restart was
// asked for, some 100 ms after the call.
bool PlantRestartMarker(const std::wstring& markerPath);
// Takes the command out again when no restart has run it.
bool RemoveRestartMarker();
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);

}  // namespace testbed
