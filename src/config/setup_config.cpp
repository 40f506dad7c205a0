#include "config/setup_config.h"

#include <wchar.h>

#include "core/platform.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kSetupFileName[] = L"Inst.Inf";
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
// does not fit is refused: any stand-in would be some other folder.
bool SetProgramDirectory(SetupConfig* config)
{
    bool result = false;
    wchar_t* modulePath = NULL;
    DWORD length = 0;
    const wchar_t* lastSeparator = NULL;

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
    result = SUCCEEDED(StringCchCopyNW(config->programDirectory, kPathCapacity, modulePath,
                                       static_cast<size_t>(lastSeparator - modulePath + 1))) &&
             SUCCEEDED(StringCchCopyW(config->programName, kPathCapacity, lastSeparator + 1));

cleanup:
    if (!result) {
        config->programDirectory[0] = L'\0';
        config->programName[0] = L'\0';
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

void ReadInstallKey(const SetupKey& key, const wchar_t* file, SetupConfig* config)
{
    char* field = reinterpret_cast<char*>(config) + key.field;
    if (key.kind == kTextKey) {
        GetPrivateProfileStringW(L"Install", key.name, key.defaultText, reinterpret_cast<wchar_t*>(field),
                                 static_cast<DWORD>(key.capacity), file);
        return;
    }
    int value = static_cast<int>(GetPrivateProfileIntW(L"Install", key.name, key.defaultNumber, file));
    *reinterpret_cast<int*>(field) = value < key.lowest ? key.lowest : value > key.highest ? key.highest : value;
}

// A value is read into one character more than its buffer holds: one that
// fills that much was too long, and cut it would name another device or
// service. It is refused, never cut; target is then empty.
bool ReadWholeValue(const wchar_t* section, const wchar_t* key, wchar_t* target, DWORD capacity, const wchar_t* file)
{
    wchar_t value[kPathCapacity + 1] = L"";
    target[0] = L'\0';
    DWORD length = GetPrivateProfileStringW(section, key, L"", value, capacity + 1, file);
    return length < capacity && SUCCEEDED(StringCchCopyW(target, capacity, value));
}

void ReadDriverEntry(int index, const SetupConfig& config, DriverEntry* entry)
{
    wchar_t section[32] = L"";
    wchar_t inf[kPathCapacity] = L"";
    const wchar_t* file = config.setupFilePath;
    StringCchPrintfW(section, ARRAYSIZE(section), L"Driver%d", index);
    entry->status = kEntryIncomplete;
    entry->tooLong = NULL;
    entry->infPath[0] = L'\0';
    entry->hardwareId[0] = L'\0';
    if (!ReadWholeValue(section, kDriverEntryKeys[0], entry->deviceName, kDeviceNameCapacity, file)) {
        entry->tooLong = kDriverEntryKeys[0];
        return;
    }
    if (entry->deviceName[0] == L'\0') {
        entry->status = kEntryWithoutName;
        return;
    }
    GetPrivateProfileStringW(entry->deviceName, kDriverEntryKeys[2], L"", inf, kPathCapacity, file);
    entry->infNamed = inf[0] != L'\0';
    HRESULT composed = entry->infNamed
                           ? StringCchPrintfW(entry->infPath, kPathCapacity, L"%s%s", config.programDirectory, inf)
                           : StringCchPrintfW(entry->infPath, kPathCapacity, L"%sDrivers\\%s\\%s.inf",
                                              config.programDirectory, entry->deviceName, entry->deviceName);
    if (FAILED(composed)) {
        entry->infPath[0] = L'\0';
        entry->tooLong = kDriverEntryKeys[2];
        return;
    }
    if (!ReadWholeValue(section, kDriverEntryKeys[1], entry->hardwareId, kPathCapacity, file)) {
        entry->tooLong = kDriverEntryKeys[1];
        return;
    }
    entry->status = entry->hardwareId[0] == L'\0' ? kEntryIncomplete : kEntryRead;
}

}  // namespace

bool LocateSetupFile(SetupConfig* config)
{
    wchar_t candidate[kPathCapacity] = L"";
    if (!SetProgramDirectory(config) || !ComposePath(candidate, config->programDirectory, kSetupFileName)) {
        return false;
    }
    DWORD length = GetFullPathNameW(candidate, kPathCapacity, config->setupFilePath, NULL);
    if (length == 0 || length >= static_cast<DWORD>(kPathCapacity)) {
        config->setupFilePath[0] = L'\0';
        return false;
    }
    return FileCanBeOpened(config->setupFilePath);
}

void ReadSetupConfig(SetupConfig* config)
{
    for (const SetupKey& key : kInstallKeys) {
        ReadInstallKey(key, config->setupFilePath, config);
    }
    for (int index = 0; index < config->driverCount; ++index) {
        ReadDriverEntry(index, *config, &config->drivers[index]);
    }
}

const wchar_t* PackageName(const SetupConfig& config)
{
    return Is64BitBuild() && config.msi64[0] != L'\0' ? config.msi64 : config.msi;
}
