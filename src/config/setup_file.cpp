#include "config/setup_file.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "core/platform.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kSetupFileName[] = L"Inst.Inf";
const wchar_t kLogFileName[] = L"devupd.log";
// The longest path Windows can give a module.
const DWORD kModulePathCapacity = 32768;

// A path that does not fit is refused: a shortened path would name another file.
bool ComposePath(wchar_t* target, const wchar_t* first, const wchar_t* second)
{
    if (FAILED(StringCchCopyW(target, kPathCapacity, first)) || FAILED(StringCchCatW(target, kPathCapacity, second))) {
        target[0] = L'\0';
        return false;
    }
    return true;
}

// Whoever starts the process chooses argument 0, so an elevated run would
// take Inst.Inf and the packages from a folder of the caller's choosing; the
// folder comes from the program file itself. A folder that cannot be told or
// does not fit is refused: any stand-in would be some other folder. The file
// name goes to *programName, for the log, which is not on yet.
bool SetProgramDirectory(wchar_t* programName)
{
    bool result = false;
    wchar_t* modulePath = NULL;
    DWORD length = 0;
    const wchar_t* lastSeparator = NULL;

    programName[0] = L'\0';
    modulePath = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, kModulePathCapacity * sizeof(wchar_t)));
    if (modulePath == NULL) {
        goto cleanup;
    }
    // A name that fills the buffer has been cut (and older Windows leaves it
    // unterminated).
    length = GetModuleFileNameW(NULL, modulePath, kModulePathCapacity);
    if (length == 0 || length >= kModulePathCapacity) {
        goto cleanup;
    }
    lastSeparator = wcsrchr(modulePath, L'\\');
    if (lastSeparator == NULL) {
        goto cleanup;
    }
    if (FAILED(StringCchCopyNW(g_setup.programDirectory, kPathCapacity, modulePath,
                               static_cast<size_t>(lastSeparator - modulePath + 1))) ||
        FAILED(StringCchCopyW(programName, kPathCapacity, lastSeparator + 1))) {
        goto cleanup;
    }
    result = true;

cleanup:
    if (!result) {
        g_setup.programDirectory[0] = L'\0';
        programName[0] = L'\0';
    }
    if (modulePath != NULL) {
        HeapFree(GetProcessHeap(), 0, modulePath);
    }
    return result;
}

bool FileCanBeOpened(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// A value is read into one character more than its buffer holds: one that
// fills that much was too long, and cut it would name another device or
// service. It is refused, never cut; target is then empty.
bool ReadWholeValue(const wchar_t* section, const wchar_t* key, wchar_t* target, DWORD capacity,
                    const wchar_t* setupFilePath)
{
    wchar_t value[kPathCapacity + 1] = L"";
    target[0] = L'\0';
    if (capacity > static_cast<DWORD>(kPathCapacity)) {
        return false;
    }
    DWORD length = GetPrivateProfileStringW(section, key, L"", value, capacity + 1, setupFilePath);
    if (length >= capacity || FAILED(StringCchCopyW(target, capacity, value))) {
        LogMessage(L"%s too long in section %s", key, section);
        return false;
    }
    return true;
}

void ReadDebugSwitch()
{
    int debug = static_cast<int>(GetPrivateProfileIntW(L"Install", L"Debug", 0, g_setup.setupFilePath));
    // A log path that does not fit leaves the log off rather than writing
    // into some other file.
    if (debug != 0 && ComposePath(g_setup.logPath, g_setup.programDirectory, kLogFileName)) {
        g_setup.debugEnabled = debug;
    }
}

}  // namespace

bool LocateSetupFile()
{
    wchar_t candidate[kPathCapacity] = L"";
    wchar_t programName[kPathCapacity] = L"";
    if (!SetProgramDirectory(programName) || !ComposePath(candidate, g_setup.programDirectory, kSetupFileName)) {
        return false;
    }
    DWORD length = GetFullPathNameW(candidate, kPathCapacity, g_setup.setupFilePath, NULL);
    if (length == 0 || length >= static_cast<DWORD>(kPathCapacity)) {
        g_setup.setupFilePath[0] = L'\0';
        return false;
    }
    if (!FileCanBeOpened(g_setup.setupFilePath)) {
        return false;
    }
    ReadDebugSwitch();
    LogMessage(L"Program name is %s%s", g_setup.programDirectory, programName);
    wchar_t package[kPathCapacity] = L"";
    if (ReadPackageName(package) == 0) {
        g_setup.driverOnly = 1;
    }
    return true;
}

DWORD ReadPackageName(wchar_t* package)
{
    DWORD length = 0;
    if (Is64BitBuild()) {
        length = GetPrivateProfileStringW(L"Install", L"MSI64", L"", package, kPathCapacity, g_setup.setupFilePath);
    }
    if (length == 0) {
        length = GetPrivateProfileStringW(L"Install", L"MSI", L"", package, kPathCapacity, g_setup.setupFilePath);
    }
    return length;
}

DWORD ReadInstallerWaitSeconds()
{
    int seconds = static_cast<int>(
        GetPrivateProfileIntW(L"Install", L"InstallerWait", kDefaultInstallerWaitSeconds, g_setup.setupFilePath));
    if (seconds < 0) {
        return 0;
    }
    return static_cast<DWORD>(seconds < kLongestInstallerWaitSeconds ? seconds : kLongestInstallerWaitSeconds);
}

int ReadDriverEntry(const wchar_t* programDirectory, const wchar_t* setupFilePath, int index, DriverEntry* entry)
{
    wchar_t section[32] = L"";
    StringCchPrintfW(section, 32, L"Driver%d", index);
    LogMessage(L"Section=%s", section);

    if (!ReadWholeValue(section, L"DeviceName", entry->deviceName, kDeviceNameCapacity, setupFilePath)) {
        return kEntryIncomplete;
    }
    if (entry->deviceName[0] == L'\0') {
        LogMessage(L"No items in section %s of %s", L"Install", setupFilePath);
        return kEntryWithoutName;
    }

    wchar_t inf[kPathCapacity] = L"";
    GetPrivateProfileStringW(entry->deviceName, L"Inf", L"", inf, kPathCapacity, setupFilePath);
    HRESULT composed = S_OK;
    if (inf[0] != L'\0') {
        composed = StringCchPrintfW(entry->infPath, kPathCapacity, L"%s%s", programDirectory, inf);
    } else {
        composed = StringCchPrintfW(entry->infPath, kPathCapacity, L"%sDrivers\\%s\\%s.inf", programDirectory,
                                    entry->deviceName, entry->deviceName);
        if (SUCCEEDED(composed)) {
            LogMessage(L"Inf name=%s", entry->infPath);
        }
    }
    if (FAILED(composed)) {
        entry->infPath[0] = L'\0';
        LogMessage(L"Inf path too long in section %s", section);
        return kEntryIncomplete;
    }

    if (!ReadWholeValue(section, L"DeviceID", entry->hardwareId, kPathCapacity, setupFilePath)) {
        return kEntryIncomplete;
    }
    LogMessage(L"Device ID=%s", entry->hardwareId);
    return entry->hardwareId[0] == L'\0' ? kEntryIncomplete : 0;
}
