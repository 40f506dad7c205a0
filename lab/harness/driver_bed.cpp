#include "driver_bed.h"

#include "internal.h"

#include <strsafe.h>

namespace testbed {
namespace {

const wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\";
// Shared with lab/doubles/newdev_double.cpp.
const wchar_t kDoubleKey[] = L"Software\\VantiroTestBed\\NewdevDouble";
const wchar_t kBackupSuffix[] = L".testbed-backup";
const DWORD kInstallFlagForce = 0x00000001;  // INSTALLFLAG_FORCE of newdev.h
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kMarkerValue[] = L"VantiroTestBedRestartMarker";
const DWORD kPollMs = 50;

std::wstring SystemFolder()
{
    wchar_t path[MAX_PATH] = L"";
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

std::wstring WindowsFolder()
{
    wchar_t path[MAX_PATH] = L"";
    UINT length = GetSystemWindowsDirectoryW(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

// From the system folder by full path, so that nothing planted next to the
// test program stands in for it.
HMODULE LoadFromSystemFolder(const wchar_t* name)
{
    std::wstring folder = SystemFolder();
    return folder.empty() ? nullptr : LoadLibraryExW((folder + L"\\" + name).c_str(), nullptr, 0);
}

template <typename Function>
Function BindFunction(HMODULE module, const char* name)
{
    FARPROC address = module == nullptr ? nullptr : GetProcAddress(module, name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    size_t length = wcslen(prefix);
    return text.size() >= length && CompareStringOrdinal(text.c_str(), static_cast<int>(length), prefix,
                                                         static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

std::wstring ExpandVariables(const std::wstring& text)
{
    DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed, L'\0');
    DWORD length = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed);
    return length == 0 || length > needed ? std::wstring() : std::wstring(buffer.data());
}

// The stored length may or may not count a terminator; the extra ones keep the
// text terminated either way.
bool ReadStringValue(HKEY root, const std::wstring& subKey, const wchar_t* name, std::wstring* value)
{
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegGetValueW(root, subKey.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, nullptr,
                     &bytes) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> chars(bytes / sizeof(wchar_t) + 2, L'\0');
    bytes = static_cast<DWORD>(chars.size() * sizeof(wchar_t));
    if (RegGetValueW(root, subKey.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type,
                     chars.data(), &bytes) != ERROR_SUCCESS)
        return false;
    *value = chars.data();
    return true;
}

bool SetStringValue(HKEY key, const wchar_t* name, DWORD type, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetDwordValue(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

bool Gone(LONG status)
{
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

std::wstring NewdevDoubleLogPath()
{
    wchar_t temp[MAX_PATH + 1] = L"";
    DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(temp) + L"newdev-double-calls.txt";
}

bool MakeFolders(const std::wstring& folder)
{
    // Parents first; a drive root or a folder that is there already fails harmlessly.
    for (size_t end = folder.find(L'\\'); end != std::wstring::npos; end = folder.find(L'\\', end + 1))
        CreateDirectoryW(folder.substr(0, end).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring InstalledNewdev()
{
    std::wstring folder = SystemFolder();
    return folder.empty() ? std::wstring() : folder + L"\\newdev.dll";
}

}  // namespace

bool WriteDriverPackage(const std::wstring& folder, const std::wstring& infName, const std::wstring& serviceName,
                        const std::wstring& hardwareId, const std::wstring& driverVer, const std::wstring& sysSource)
{
    const std::wstring sys = serviceName + L".sys";
    const std::wstring lines[] = {
        L"[Version]",
        L"Signature=\"$Windows NT$\"",
        L"Class=SCSIAdapter",
        L"ClassGuid={4D36E97B-E325-11CE-BFC1-08002BE10318}",
        L"Provider=%Provider%",
        L"DriverVer=" + driverVer,
        L"",
        L"[DestinationDirs]",
        L"DefaultDestDir=12",
        L"",
        L"[SourceDisksNames]",
        L"1=%DiskName%",
        L"",
        L"[SourceDisksFiles]",
        sys + L"=1",
        L"",
        L"[Manufacturer]",
        // 64-bit Windows installs only from a models section decorated for
        // it; with decorations listed, Wine's 32-bit install, too, looks only
        // for its own (NTx86), never for the plain section.
        L"%Provider%=Models,NTx86,NTamd64",
        L"",
        L"[Models.NTx86]",
        L"%DeviceDesc%=DriverInstall," + hardwareId,
        L"",
        L"[Models.NTamd64]",
        L"%DeviceDesc%=DriverInstall," + hardwareId,
        L"",
        L"[DriverInstall]",
        L"CopyFiles=DriverFiles",
        L"",
        L"[DriverFiles]",
        sys,
        L"",
        L"[DriverInstall.Services]",
        // 2 is SPSVCINST_ASSOCSERVICE: the service drives the device.
        L"AddService=" + serviceName + L",2,ServiceInstall",
        L"",
        L"[ServiceInstall]",
        // Windows refuses a second service with the same display name.
        L"DisplayName=\"VANTIRO RAID driver " + serviceName + L"\"",
        L"ServiceType=1",
        L"StartType=3",
        L"ErrorControl=1",
        L"ServiceBinary=%12%\\" + sys,
        L"",
        L"[Strings]",
        L"Provider=\"VANTIRO test bed\"",
        L"DiskName=\"VANTIRO RAID driver\"",
        L"DeviceDesc=\"VANTIRO RAID controller\"",
    };
    std::wstring inf;
    for (const std::wstring& line : lines)
        inf += line + L"\r\n";
    if (!MakeFolders(folder))
        return false;
    return WriteTextFile(folder + L"\\" + infName, inf, CP_ACP) && CopyFileTo(sysSource, folder + L"\\" + sys);
}

bool InstallDriver(const std::wstring& hardwareId, const std::wstring& infPath, BOOL* reboot)
{
    typedef BOOL(WINAPI * UpdateFunction)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);
    HMODULE newdev = LoadFromSystemFolder(L"newdev.dll");
    auto update = BindFunction<UpdateFunction>(newdev, "UpdateDriverForPlugAndPlayDevicesW");
    bool ok = update != nullptr && update(nullptr, hardwareId.c_str(), infPath.c_str(), kInstallFlagForce, reboot);
    DWORD error = GetLastError();
    if (newdev != nullptr)
        FreeLibrary(newdev);
    SetLastError(ok ? ERROR_SUCCESS : error);
    return ok;
}

std::wstring ReadFileVersion(const std::wstring& path)
{
    typedef DWORD(WINAPI * SizeFunction)(LPCWSTR, LPDWORD);
    typedef BOOL(WINAPI * InfoFunction)(LPCWSTR, DWORD, DWORD, LPVOID);
    typedef BOOL(WINAPI * QueryFunction)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    HMODULE version = LoadFromSystemFolder(L"version.dll");
    auto size = BindFunction<SizeFunction>(version, "GetFileVersionInfoSizeW");
    auto info = BindFunction<InfoFunction>(version, "GetFileVersionInfoW");
    auto query = BindFunction<QueryFunction>(version, "VerQueryValueW");
    std::wstring text;
    DWORD handle = 0;
    DWORD bytes = size != nullptr && info != nullptr && query != nullptr ? size(path.c_str(), &handle) : 0;
    std::vector<BYTE> block(bytes);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedBytes = 0;
    if (bytes != 0 && info(path.c_str(), 0, bytes, block.data()) &&
        query(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedBytes) &&
        fixedBytes >= sizeof(VS_FIXEDFILEINFO) && fixed->dwSignature == VS_FFI_SIGNATURE) {
        wchar_t version[64] = L"";
        StringCchPrintfW(version, ARRAYSIZE(version), L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                         LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                         LOWORD(fixed->dwFileVersionLS));
        text = version;
    }
    if (version != nullptr)
        FreeLibrary(version);
    return text;
}

std::wstring InstalledDriverPath(const std::wstring& serviceName)
{
    std::wstring imagePath;
    if (!ReadStringValue(HKEY_LOCAL_MACHINE, kServicesKey + serviceName, L"ImagePath", &imagePath) || imagePath.empty())
        return std::wstring();
    if (StartsWith(imagePath, L"\\SystemRoot\\"))
        return WindowsFolder() + imagePath.substr(wcslen(L"\\SystemRoot"));
    if (StartsWith(imagePath, L"\\??\\"))
        return imagePath.substr(wcslen(L"\\??\\"));
    std::wstring path = ExpandVariables(imagePath);
    // Without a drive or a leading backslash the path is relative to %SystemRoot%.
    bool relative = !path.empty() && path[0] != L'\\' && (path.size() < 2 || path[1] != L':');
    return relative ? WindowsFolder() + L"\\" + path : path;
}

std::wstring ReadInstalledDriverVersion(const std::wstring& serviceName)
{
    std::wstring path = InstalledDriverPath(serviceName);
    return path.empty() ? std::wstring() : ReadFileVersion(path);
}

bool SetServiceImagePath(const std::wstring& serviceName, const std::wstring& value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kServicesKey + serviceName).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = SetStringValue(key, L"ImagePath", REG_EXPAND_SZ, value);
    RegCloseKey(key);
    return ok;
}

bool DeleteServiceImagePath(const std::wstring& serviceName)
{
    return Gone(RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (kServicesKey + serviceName).c_str(), L"ImagePath"));
}

bool DeleteServiceKey(const std::wstring& serviceName)
{
    return Gone(RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kServicesKey + serviceName).c_str()));
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
    return DeleteServiceKey(serviceName) && DeleteTree(file) && ok;
}

std::wstring DefaultNewdevDoublePath()
{
    return TestProgramFolder() + L"doubles\\newdev.dll";
}

bool UseNewdevDouble(const NewdevAnswer& answer, const std::wstring& doublePath)
{
    std::wstring installed = InstalledNewdev();
    std::wstring backup = installed + kBackupSuffix;
    if (installed.empty() || doublePath.empty())
        return false;
    // The first use keeps Wine's placeholder; a later one must not save the double over it.
    bool kept = GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES ||
                GetFileAttributesW(installed.c_str()) == INVALID_FILE_ATTRIBUTES ||
                CopyFileW(installed.c_str(), backup.c_str(), TRUE);
    std::wstring log = NewdevDoubleLogPath();
    return kept && CopyFileTo(doublePath, installed) &&
           SetAppDefault(kSetupProgram, L"DllOverrides", L"newdev", L"native") && SetNewdevAnswer(answer) &&
           !log.empty() && DeleteTree(log);
}

bool SetNewdevAnswer(const NewdevAnswer& answer)
{
    std::wstring log = NewdevDoubleLogPath();
    HKEY key = nullptr;
    if (log.empty() || RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDoubleKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                       nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = SetDwordValue(key, L"Result", answer.succeed ? 1 : 0) && SetDwordValue(key, L"Reboot", answer.reboot) &&
              SetDwordValue(key, L"LastError", answer.lastError) && SetStringValue(key, L"CallLog", REG_SZ, log);
    RegCloseKey(key);
    return ok;
}

bool StopUsingNewdevDouble()
{
    std::wstring installed = InstalledNewdev();
    std::wstring backup = installed + kBackupSuffix;
    bool ok = Gone(RegDeleteKeyValueW(
        HKEY_CURRENT_USER, (std::wstring(L"Software\\Wine\\AppDefaults\\") + kSetupProgram + L"\\DllOverrides").c_str(),
        L"newdev"));
    std::wstring log = NewdevDoubleLogPath();
    ok = (log.empty() || DeleteTree(log)) && Gone(RegDeleteTreeW(HKEY_LOCAL_MACHINE, kDoubleKey)) && ok;
    if (!installed.empty() && GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES)
        ok = CopyFileTo(backup, installed) && DeleteFileW(backup.c_str()) && ok;
    return ok;
}

bool UseVersionDouble()
{
    const std::wstring installed = SystemFolder() + L"\\version.dll";
    const std::wstring backup = installed + kBackupSuffix;
    bool kept = GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES ||
                CopyFileW(installed.c_str(), backup.c_str(), TRUE);
    return kept && CopyFileTo(TestProgramFolder() + L"doubles\\version.dll", installed) &&
           SetAppDefault(kSetupProgram, L"DllOverrides", L"version", L"native");
}

bool StopUsingVersionDouble()
{
    const std::wstring installed = SystemFolder() + L"\\version.dll";
    const std::wstring backup = installed + kBackupSuffix;
    bool ok = Gone(RegDeleteKeyValueW(
        HKEY_CURRENT_USER, (std::wstring(L"Software\\Wine\\AppDefaults\\") + kSetupProgram + L"\\DllOverrides").c_str(),
        L"version"));
    if (GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES)
        ok = CopyFileTo(backup, installed) && DeleteFileW(backup.c_str()) && ok;
    return ok;
}

std::vector<std::wstring> ReadNewdevDoubleCalls()
{
    std::vector<std::wstring> calls;
    std::string bytes;
    if (!ReadFileBytes(NewdevDoubleLogPath(), &bytes) || bytes.empty())
        return calls;
    int chars = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
    if (chars > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], chars);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        calls.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return calls;
}

bool PlantRestartMarker(const std::wstring& markerPath)
{
    std::wstring folder = SystemFolder();
    HKEY key = nullptr;
    if (folder.empty() || !DeleteTree(markerPath) ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
        return false;
    bool ok = SetStringValue(key, kMarkerValue, REG_SZ,
                             L"\"" + folder + L"\\cmd.exe\" /c echo restarted> \"" + markerPath + L"\"");
    RegCloseKey(key);
    return ok;
}

bool RemoveRestartMarker()
{
    return Gone(RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, kMarkerValue));
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

}  // namespace testbed
