#include "driver/driver_version.h"

#include <wchar.h>
#include <windows.h>

#include "log/debug_log.h"
#include "core/process_state.h"
#include "core/system_libraries.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const int kInfValueCapacity = 128;
const DWORD kImagePathBytes = kPathCapacity * sizeof(wchar_t);
const wchar_t kServicesKey[] = L"System\\CurrentControlSet\\Services\\";

bool StartsWith(const wchar_t* text, const wchar_t* prefix)
{
    return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

// The file that the service manager would load for a stored ImagePath. Windows
// writes driver services as "\SystemRoot\System32\drivers\x.sys" or relative to
// the Windows folder, which no file function finds as they stand.
bool ResolveImagePath(const wchar_t* stored, wchar_t* resolved)
{
    wchar_t expanded[kPathCapacity] = L"";
    DWORD length = ExpandEnvironmentStringsW(stored, expanded, kPathCapacity);
    if (length == 0 || length > static_cast<DWORD>(kPathCapacity)) {
        return false;
    }
    const wchar_t* path = expanded;
    const wchar_t* underWindows = NULL;
    if (StartsWith(path, L"\\??\\")) {
        path += 4;
    } else if (StartsWith(path, L"\\SystemRoot\\")) {
        underWindows = path + 12;
    } else if (path[0] != L'\\' && (path[0] == L'\0' || path[1] != L':')) {
        underWindows = path;
    }
    if (underWindows == NULL) {
        return SUCCEEDED(StringCchCopyW(resolved, kPathCapacity, path));
    }
    wchar_t windows[kPathCapacity] = L"";
    UINT windowsLength = GetWindowsDirectoryW(windows, kPathCapacity);
    if (windowsLength == 0 || windowsLength >= static_cast<UINT>(kPathCapacity)) {
        return false;
    }
    return SUCCEEDED(StringCchPrintfW(resolved, kPathCapacity, L"%s\\%s", windows, underWindows));
}

}  // namespace

int ReadInfDriverVersion(const wchar_t* infPath, wchar_t* newVersion)
{
    newVersion[0] = L'\0';
    wchar_t value[kInfValueCapacity] = L"";
    DWORD length = GetPrivateProfileStringW(L"Version", L"DriverVer", L"", value, kInfValueCapacity, infPath);
    if (length == 0) {
        LogMessage(L"Failed to get ver by inf %s", infPath);
        return 0;
    }
    const wchar_t* comma = wcschr(value, L',');
    const wchar_t* version = comma != NULL ? comma + 1 : value;
    // A value that filled the buffer may have been cut, and a cut version
    // compares wrongly: it counts as unreadable, as does one too long to keep.
    if (length >= static_cast<DWORD>(kInfValueCapacity - 1) ||
        FAILED(StringCchCopyW(newVersion, kVersionTextCapacity, version))) {
        newVersion[0] = L'\0';
        LogMessage(L"DriverVer too long in %s", infPath);
        return 0;
    }
    return 1;
}

int ReadInstalledDriverVersion(const wchar_t* deviceName, wchar_t* currentVersion)
{
    currentVersion[0] = L'\0';
    wchar_t keyPath[kPathCapacity] = L"";
    if (FAILED(StringCchPrintfW(keyPath, kPathCapacity, L"%s%s", kServicesKey, deviceName))) {
        return 0;
    }
    HKEY key = NULL;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        LogMessage(L"Failed to get ver by reg %s. err=%d", keyPath, static_cast<int>(status));
        return 0;
    }
    // One character beyond the bytes handed to the registry keeps the value
    // terminated even when it was stored without a terminator.
    wchar_t imagePath[kPathCapacity + 1] = L"";
    DWORD size = kImagePathBytes;
    status = RegQueryValueExW(key, L"ImagePath", NULL, NULL, reinterpret_cast<BYTE*>(imagePath), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return 0;
    }
    imagePath[size / sizeof(wchar_t)] = L'\0';
    wchar_t file[kPathCapacity] = L"";
    if (ResolveImagePath(imagePath, file) && GetFileVersionText(file, currentVersion) == 1) {
        return 1;
    }
    LogMessage(L"Failed to get ver by file %s", imagePath);
    return 0;
}

int GetFileVersionText(const wchar_t* path, wchar_t* versionText)
{
    int result = 0;
    const VersionFunctions* version = NULL;
    void* block = NULL;
    VS_FIXEDFILEINFO* info = NULL;
    UINT length = 0;
    DWORD handle = 0;
    DWORD size = 0;

    versionText[0] = L'\0';
    version = GetVersionFunctions();
    if (version == NULL) {
        goto cleanup;
    }
    size = version->getFileVersionInfoSize(path, &handle);
    if (size == 0) {
        goto cleanup;
    }
    block = LocalAlloc(LPTR, size);
    if (block == NULL) {
        goto cleanup;
    }
    // A block that cannot be read holds no version, not 0.0.0.0: as that, any
    // packaged driver would count as newer and replace the installed one.
    if (!version->getFileVersionInfo(path, 0, size, block)) {
        LogMessage(L"GetFileVersionInfo err=%d", static_cast<int>(GetLastError()));
        goto cleanup;
    }
    // The file decides what this value holds: none, one shorter than a
    // VS_FIXEDFILEINFO (it would be read past its end), or one without the
    // signature is no VS_FIXEDFILEINFO, and tells no version.
    if (!version->verQueryValue(block, L"\\", reinterpret_cast<void**>(&info), &length) || length == 0 ||
        length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != VS_FFI_SIGNATURE) {
        LogMessage(L"No fixed file information in %s", path);
        goto cleanup;
    }
    StringCchPrintfW(versionText, kVersionTextCapacity, L"%d.%d.%d.%d", HIWORD(info->dwFileVersionMS),
                     LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    result = 1;

cleanup:
    if (block != NULL) {
        LocalFree(block);
    }
    return result;
}

void ParseDriverVersion(const wchar_t* text, int numbers[4])
{
    const wchar_t* position = text;
    for (int part = 0; part < 4; ++part) {
        // Unsigned, so that a number of 2^32 or more wraps instead of overflowing.
        unsigned int value = 0;
        for (; *position != L'\0' && *position != L'.'; ++position) {
            if (*position >= L'0' && *position <= L'9') {
                value = value * 10u + static_cast<unsigned int>(*position - L'0');
            }
        }
        if (*position == L'.') {
            ++position;
        }
        numbers[part] = static_cast<int>(value);
    }
}

int CompareDriverVersions(const wchar_t* currentVersion, const wchar_t* newVersion)
{
    int current[4];
    int latest[4];
    ParseDriverVersion(currentVersion, current);
    ParseDriverVersion(newVersion, latest);
    LogMessage(L"Current Ver = %d.%d.%d.%d", current[0], current[1], current[2], current[3]);
    LogMessage(L"New Ver = %d.%d.%d.%d", latest[0], latest[1], latest[2], latest[3]);
    for (int part = 0; part < 4; ++part) {
        if (latest[part] > current[part]) {
            LogMessage(L"Newer version will be installed");
            return 1;
        }
        if (latest[part] < current[part]) {
            LogMessage(L"This is old version");
            return 0;
        }
    }
    return 0;
}

int CheckDriverVersion(const wchar_t* infPath, const wchar_t* deviceName, wchar_t* newVersion)
{
    wchar_t currentVersion[kVersionTextCapacity];
    if (!ReadInfDriverVersion(infPath, newVersion)) {
        LogMessage(L"Failed to get driver ver from inf(%s)", infPath);
        return 2;
    }
    LogMessage(L"New ver = %s (from %s)", newVersion, infPath);
    if (!ReadInstalledDriverVersion(deviceName, currentVersion)) {
        return 2;
    }
    LogMessage(L"Current ver = %s (from %s)", currentVersion, deviceName);
    if (CompareDriverVersions(currentVersion, newVersion) == 1) {
        return 1;
    }
    LogMessage(L"Already new driver is installed");
    return 0;
}
