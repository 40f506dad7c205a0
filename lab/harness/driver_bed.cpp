#include "driver_bed.h"

#include <newdev.h>

#include <algorithm>

#include "internal.h"

namespace testbed {
namespace {

const wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";
// Read by lab/doubles/newdev_double.cpp.
const wchar_t kDoubleKey[] = L"Software\\VantiroTestBed\\NewdevDouble";
const std::wstring kDoubleOverrides =
    std::wstring(L"Software\\Wine\\AppDefaults\\") + kSetupProgram + L"\\DllOverrides";
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kMarkerValue[] = L"VantiroTestBedRestartMarker";

std::wstring WindowsFolder()
{
    wchar_t path[MAX_PATH] = L"";
    UINT length = GetSystemWindowsDirectoryW(path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return CompareStringOrdinal(text.c_str(), static_cast<int>(std::min(text.size(), prefix.size())), prefix.c_str(),
                                -1, TRUE) == CSTR_EQUAL;
}

// ImagePath as Windows resolves it: "\SystemRoot\...", "\??\C:\...",
// "%SystemRoot%\...", relative to the Windows folder, or a full path.
std::wstring InstalledDriverPath(const std::wstring& serviceName)
{
    std::wstring imagePath;
    if (!ReadRegValue(HKEY_LOCAL_MACHINE, kServicesKey + serviceName, L"ImagePath", &imagePath) || imagePath.empty())
        return std::wstring();
    if (StartsWith(imagePath, L"\\SystemRoot\\"))
        return WindowsFolder() + imagePath.substr(11);
    if (StartsWith(imagePath, L"\\??\\"))
        return imagePath.substr(4);
    wchar_t path[MAX_PATH] = L"";
    DWORD length = ExpandEnvironmentStringsW(imagePath.c_str(), path, MAX_PATH);
    const std::wstring expanded = length == 0 || length > MAX_PATH ? std::wstring() : path;
    bool relative = !expanded.empty() && expanded[0] != L'\\' && (expanded.size() < 2 || expanded[1] != L':');
    return relative ? WindowsFolder() + L"\\" + expanded : expanded;
}

std::wstring NewdevDoubleLog()
{
    wchar_t temp[MAX_PATH + 1] = L"";
    DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(temp) + L"newdev-double-calls.txt";
}

}  // namespace

bool WriteDriverPackage(const std::wstring& folder, const std::wstring& infName, const std::wstring& serviceName,
                        const std::wstring& hardwareId, const std::wstring& driverVer, const std::wstring& sysSource)
{
    const std::wstring sys = serviceName + L".sys";
    // 64-bit Windows installs only from a models section decorated for it; with
    // decorations listed, Wine's 32-bit install looks only for NTx86. Windows
    // refuses a second service of the same display name. AddService's 2 is
    // SPSVCINST_ASSOCSERVICE.
    const std::wstring inf =
        L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=SCSIAdapter\r\n"
        L"ClassGuid={4D36E97B-E325-11CE-BFC1-08002BE10318}\r\nProvider=%Provider%\r\nDriverVer=" +
        driverVer +
        L"\r\n\r\n[DestinationDirs]\r\nDefaultDestDir=12\r\n\r\n[SourceDisksNames]\r\n1=%DiskName%\r\n\r\n"
        L"[SourceDisksFiles]\r\n" +
        sys + L"=1\r\n\r\n[Manufacturer]\r\n%Provider%=Models,NTx86,NTamd64\r\n\r\n[Models.NTx86]\r\n" +
        L"%DeviceDesc%=DriverInstall," + hardwareId + L"\r\n\r\n[Models.NTamd64]\r\n%DeviceDesc%=DriverInstall," +
        hardwareId + L"\r\n\r\n[DriverInstall]\r\nCopyFiles=DriverFiles\r\n\r\n[DriverFiles]\r\n" + sys +
        L"\r\n\r\n[DriverInstall.Services]\r\nAddService=" + serviceName +
        L",2,ServiceInstall\r\n\r\n[ServiceInstall]\r\nDisplayName=\"VANTIRO RAID driver " + serviceName +
        L"\"\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\nServiceBinary=%12%\\" + sys +
        L"\r\n\r\n[Strings]\r\nProvider=\"VANTIRO test bed\"\r\nDiskName=\"VANTIRO RAID driver\"\r\n"
        L"DeviceDesc=\"VANTIRO RAID controller\"\r\n";
    // Parents first; a drive root or a folder already there fails harmlessly.
    for (size_t end = folder.find(L'\\'); end != std::wstring::npos; end = folder.find(L'\\', end + 1))
        CreateDirectoryW(folder.substr(0, end).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    return WriteFileBytes(folder + L"\\" + infName, ToBytes(inf, CP_ACP)) &&
           CopyFileTo(sysSource, folder + L"\\" + sys);
}

bool InstallDriver(const std::wstring& hardwareId, const std::wstring& infPath, BOOL* reboot)
{
    return UpdateDriverForPlugAndPlayDevicesW(nullptr, hardwareId.c_str(), infPath.c_str(), INSTALLFLAG_FORCE,
                                              reboot) != FALSE;
}

std::wstring ReadInstalledDriverVersion(const std::wstring& serviceName)
{
    const std::wstring path = InstalledDriverPath(serviceName);
    DWORD handle = 0;
    DWORD bytes = path.empty() ? 0 : GetFileVersionInfoSizeW(path.c_str(), &handle);
    std::vector<BYTE> block(bytes);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedBytes = 0;
    if (bytes == 0 || !GetFileVersionInfoW(path.c_str(), 0, bytes, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedBytes) ||
        fixedBytes < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != VS_FFI_SIGNATURE)
        return std::wstring();
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

bool SetServiceImagePath(const std::wstring& serviceName, const std::wstring& value)
{
    return WriteRegString(HKEY_LOCAL_MACHINE, kServicesKey + serviceName, L"ImagePath", value, REG_EXPAND_SZ);
}

bool UninstallDriver(const std::wstring& serviceName)
{
    std::wstring file = InstalledDriverPath(serviceName);
    if (file.empty())
        file = SystemFolder() + L"\\drivers\\" + serviceName + L".sys";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager == nullptr ? nullptr : OpenServiceW(manager, serviceName.c_str(), DELETE);
    bool ok = service != nullptr ? DeleteService(service) != FALSE : GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    // Wine's service manager keeps its own copy; the next install writes the key again.
    return DeleteRegTree(HKEY_LOCAL_MACHINE, kServicesKey + serviceName) && DeleteTree(file) && ok;
}

namespace {

// A DLL double (doubles\<name>.dll) in the system folder in place of Wine's
// own, which is kept aside for TakeDllDouble; the first use keeps Wine's
// file, a later one must not save the double over it.
bool PutDllDouble(const std::wstring& name)
{
    const std::wstring installed = SystemFolder() + L"\\" + name + L".dll";
    const std::wstring backup = installed + L".testbed-backup";
    bool kept = GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES ||
                GetFileAttributesW(installed.c_str()) == INVALID_FILE_ATTRIBUTES ||
                CopyFileW(installed.c_str(), backup.c_str(), TRUE);
    return kept && CopyFileTo(TestProgramFolder() + L"doubles\\" + name + L".dll", installed) &&
           WriteRegString(HKEY_CURRENT_USER, kDoubleOverrides, name, L"native");
}

bool TakeDllDouble(const std::wstring& name)
{
    const std::wstring installed = SystemFolder() + L"\\" + name + L".dll";
    const std::wstring backup = installed + L".testbed-backup";
    bool ok = DeleteRegValue(HKEY_CURRENT_USER, kDoubleOverrides, name);
    if (GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES)
        ok = CopyFileTo(backup, installed) && DeleteFileW(backup.c_str()) && ok;
    return ok;
}

}  // namespace

bool UseNewdevDouble(const NewdevAnswer& answer)
{
    const std::wstring log = NewdevDoubleLog();
    return !log.empty() && PutDllDouble(L"newdev") &&
           WriteRegDword(HKEY_LOCAL_MACHINE, kDoubleKey, L"Result", answer.succeed ? 1 : 0) &&
           WriteRegDword(HKEY_LOCAL_MACHINE, kDoubleKey, L"Reboot", answer.reboot ? 1 : 0) &&
           WriteRegDword(HKEY_LOCAL_MACHINE, kDoubleKey, L"LastError", answer.lastError) &&
           WriteRegString(HKEY_LOCAL_MACHINE, kDoubleKey, L"CallLog", log) && DeleteTree(log);
}

bool StopUsingNewdevDouble()
{
    const std::wstring log = NewdevDoubleLog();
    bool ok = (log.empty() || DeleteTree(log)) && DeleteRegTree(HKEY_LOCAL_MACHINE, kDoubleKey);
    return TakeDllDouble(L"newdev") && ok;
}

bool UseVersionDouble()
{
    return PutDllDouble(L"version");
}

bool StopUsingVersionDouble()
{
    return TakeDllDouble(L"version");
}

std::vector<std::wstring> ReadNewdevDoubleCalls()
{
    std::vector<std::wstring> calls;
    std::string bytes;
    ReadFileBytes(NewdevDoubleLog(), &bytes);
    int chars = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(std::max(chars, 0)), L'\0');
    if (chars > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], chars);
    for (size_t start = 0, end = 0; start < text.size(); start = end + 2) {
        end = std::min(text.find(L"\r\n", start), text.size());
        calls.push_back(text.substr(start, end - start));
    }
    return calls;
}

bool PlantRestartMarker(const std::wstring& markerPath)
{
    return DeleteTree(markerPath) &&
           WriteRegString(HKEY_LOCAL_MACHINE, kRunOnceKey, kMarkerValue,
                          L"\"" + SystemFolder() + L"\\cmd.exe\" /c echo restarted> \"" + markerPath + L"\"");
}

bool RemoveRestartMarker()
{
    return DeleteRegValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kMarkerValue);
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount(); GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; Sleep(50)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
    }
    return true;
}

}  // namespace testbed
