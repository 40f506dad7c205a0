#include "utility/settings_carry_over.h"

#include <wchar.h>

#include "core/platform.h"
#include "log/debug_log.h"
#include "system/admin_folders.h"
#include "system/child_process.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kCarryOverFolder[] = L"Carry-over";
const wchar_t kRecordName[] = L"upgrade.ini";
const wchar_t kExportName[] = L"zelmsvc.reg";
const wchar_t kValuesName[] = L"zelmsvc.values";
const wchar_t kRecordSection[] = L"Upgrade";
const wchar_t kSettingsKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings";
// Stands for a key missing from the record: no value holds a line end.
const wchar_t kMissing[] = L"\n";
const ChildLogTexts kRegistryTexts = {L"CreateProcess succeeded cmd=%s",
                                      L"Failed to execute saveing reg cmd(%s) err=%d", true};
// The settings of one service: far beyond what zelmsvc keeps.
const DWORD kValuesLimit = 1024 * 1024;
const int kKeyDepth = 8;
const int kRecordCapacity = 8192;
const DWORD kKeyEntry = 0;
const DWORD kValueEntry = 1;

// The values file: entries of kind, path below the settings key, value name,
// type and data, each text and the data behind its length.
struct Bytes {
    BYTE* data;
    DWORD size;
    DWORD capacity;
};

bool Append(Bytes* out, const void* data, DWORD size)
{
    if (size > kValuesLimit - out->size) {
        return false;
    }
    if (out->size + size > out->capacity) {
        DWORD capacity = out->capacity == 0 ? 4096 : out->capacity;
        while (capacity < out->size + size) {
            capacity *= 2;
        }
        BYTE* grown = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, capacity));
        if (grown == NULL) {
            return false;
        }
        if (out->data != NULL) {
            CopyMemory(grown, out->data, out->size);
            LocalFree(out->data);
        }
        out->data = grown;
        out->capacity = capacity;
    }
    CopyMemory(out->data + out->size, data, size);
    out->size += size;
    return true;
}

bool AppendCounted(Bytes* out, const void* data, DWORD size)
{
    return Append(out, &size, sizeof(size)) && Append(out, data, size);
}

bool AppendEntry(Bytes* out, DWORD kind, const wchar_t* path, const wchar_t* name, DWORD type, const BYTE* data,
                 DWORD size)
{
    return Append(out, &kind, sizeof(kind)) &&
           AppendCounted(out, path, static_cast<DWORD>(wcslen(path) * sizeof(wchar_t))) &&
           AppendCounted(out, name, static_cast<DWORD>(wcslen(name) * sizeof(wchar_t))) &&
           Append(out, &type, sizeof(type)) && AppendCounted(out, data, size);
}

bool JoinPath(wchar_t* target, const wchar_t* first, const wchar_t* second)
{
    const wchar_t* separator = first[0] != L'\0' && second[0] != L'\0' ? L"\\" : L"";
    return SUCCEEDED(StringCchPrintfW(target, kPathCapacity, L"%s%s%s", first, separator, second));
}

HKEY OpenSettingsKey(const wchar_t* path, REGSAM view)
{
    wchar_t full[kPathCapacity];
    HKEY key = NULL;
    if (!JoinPath(full, kSettingsKey, path) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, full, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        return NULL;
    }
    return key;
}

DWORD AppendValues(HKEY key, const wchar_t* path, DWORD count, DWORD longestName, DWORD longestData, Bytes* out)
{
    DWORD result = ERROR_SUCCESS;
    wchar_t* name = static_cast<wchar_t*>(LocalAlloc(LPTR, (longestName + 1) * sizeof(wchar_t)));
    BYTE* data = static_cast<BYTE*>(LocalAlloc(LPTR, longestData + 1));
    if (name == NULL || data == NULL) {
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    for (DWORD index = 0; result == ERROR_SUCCESS && index < count; ++index) {
        DWORD nameLength = longestName + 1;
        DWORD size = longestData;
        DWORD type = REG_NONE;
        result = static_cast<DWORD>(RegEnumValueW(key, index, name, &nameLength, NULL, &type, data, &size));
        if (result == ERROR_SUCCESS && !AppendEntry(out, kValueEntry, path, name, type, data, size)) {
            result = ERROR_FILE_TOO_LARGE;
        }
    }
    LocalFree(name);
    LocalFree(data);
    return result;
}

// The key at path below the settings key, its values and its subkeys.
DWORD AppendKey(HKEY key, const wchar_t* path, int depth, Bytes* out)
{
    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
    DWORD result = static_cast<DWORD>(RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, &longestSubkey, NULL, &values,
                                                       &longestName, &longestData, NULL, NULL));
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (depth > kKeyDepth || !AppendEntry(out, kKeyEntry, path, L"", REG_NONE, NULL, 0)) {
        return ERROR_FILE_TOO_LARGE;
    }
    result = AppendValues(key, path, values, longestName, longestData, out);
    for (DWORD index = 0; result == ERROR_SUCCESS && index < subkeys; ++index) {
        wchar_t name[kPathCapacity];
        wchar_t child[kPathCapacity];
        DWORD length = kPathCapacity;
        HKEY subkey = NULL;
        result = static_cast<DWORD>(RegEnumKeyExW(key, index, name, &length, NULL, NULL, NULL, NULL));
        if (result == ERROR_SUCCESS && !JoinPath(child, path, name)) {
            result = ERROR_FILENAME_EXCED_RANGE;
        }
        if (result == ERROR_SUCCESS) {
            result = static_cast<DWORD>(RegOpenKeyExW(key, name, 0, KEY_READ, &subkey));
        }
        if (result == ERROR_SUCCESS) {
            result = AppendKey(subkey, child, depth + 1, out);
            RegCloseKey(subkey);
        }
    }
    return result;
}

// On disk before the run goes on: a file the next run relies on.
DWORD WriteFlushedFile(const wchar_t* path, const void* data, DWORD size)
{
    DWORD written = 0;
    DWORD result = ERROR_SUCCESS;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    if (!WriteFile(file, data, size, &written, NULL) || written != size || !FlushFileBuffers(file)) {
        result = GetLastError() != ERROR_SUCCESS ? GetLastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
    }
    CloseHandle(file);
    return result;
}

// The settings as the registry API reads them, for the comparison after the
// import: every value by name, type and data, and every subkey.
DWORD SaveValues(const wchar_t* file, REGSAM view)
{
    Bytes out = {NULL, 0, 0};
    HKEY key = OpenSettingsKey(L"", view);
    DWORD result = key != NULL ? AppendKey(key, L"", 0, &out) : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    if (key != NULL) {
        RegCloseKey(key);
    }
    if (result == ERROR_SUCCESS) {
        result = WriteFlushedFile(file, out.data, out.size);
    }
    if (out.data != NULL) {
        LocalFree(out.data);
    }
    return result;
}

// The registry editor of the view that holds the settings: the other one
// would export or import them in its own view. Its exit code, or the Windows
// error that kept it from starting.
DWORD RunRegistryEditor(REGSAM view, const wchar_t* arguments)
{
    wchar_t program[kPathCapacity];
    DWORD exitCode = 0;
    bool found = view == KEY_WOW64_32KEY && Is64BitBuild() ? FindWow64Program(L"regedit.exe", program)
                                                           : FindSystemProgram(L"regedit.exe", true, program);
    if (!found) {
        LogMessage(kRegistryTexts.startFailed, L"regedit.exe", ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }
    DWORD error = RunProgramFile(program, arguments, NORMAL_PRIORITY_CLASS, kWaitBoundedWithoutMessages, kRegistryTexts,
                                 &exitCode);
    return error != ERROR_SUCCESS ? error : exitCode;
}

// The export must leave a file with content, on disk.
DWORD ExportSettings(const wchar_t* file, REGSAM view)
{
    wchar_t arguments[kCommandCapacity];
    if (FAILED(
            StringCchPrintfW(arguments, kCommandCapacity, L"/e \"%s\" HKEY_LOCAL_MACHINE\\%s", file, kSettingsKey))) {
        LogMessage(L"Registry command too long(%s)", file);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    DWORD result = RunRegistryEditor(view, arguments);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    HANDLE handle = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER size;
    size.QuadPart = 0;
    if (handle == INVALID_HANDLE_VALUE) {
        return ERROR_WRITE_FAULT;
    }
    if (!GetFileSizeEx(handle, &size) || size.QuadPart == 0 || !FlushFileBuffers(handle)) {
        result = ERROR_WRITE_FAULT;
    }
    CloseHandle(handle);
    return result;
}

bool SettingsKeyExists(REGSAM view)
{
    HKEY key = NULL;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE | view, &key);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    // A key that exists but cannot be opened is still worth the export.
    return status != ERROR_FILE_NOT_FOUND;
}

bool FileInFolder(const CarryOver& carry, const wchar_t* name, wchar_t* path)
{
    return SUCCEEDED(StringCchPrintfW(path, kPathCapacity, L"%s\\%s", carry.folder, name));
}

void JoinDependents(const DependentServices& dependents, wchar_t* text, size_t capacity)
{
    text[0] = L'\0';
    for (int index = 0; index < dependents.count; ++index) {
        StringCchCatW(text, capacity, index == 0 ? L"" : L"/");
        StringCchCatW(text, capacity, dependents.names[index]);
    }
}

DWORD WriteRecord(const CarryOver& carry)
{
    wchar_t path[kPathCapacity];
    wchar_t dependents[kDependentCapacity * kServiceNameCapacity];
    wchar_t exportFile[kPathCapacity] = L"";
    DWORD result = ERROR_FILENAME_EXCED_RANGE;
    wchar_t* text = static_cast<wchar_t*>(LocalAlloc(LPTR, kRecordCapacity * sizeof(wchar_t)));
    if (text == NULL) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    JoinDependents(carry.dependents, dependents, ARRAYSIZE(dependents));
    if (carry.hasSettings) {
        FileInFolder(carry, kExportName, exportFile);
    }
    if (FileInFolder(carry, kRecordName, path) &&
        SUCCEEDED(
            StringCchPrintfW(text, kRecordCapacity,
                             L"\xFEFF[%s]\r\nProductCode=%s\r\nVersion=%s\r\nView=%d\r\nFolder=%s\r\nExport=%s\r\n"
                             L"Time=%s\r\nDependents=%s\r\n",
                             kRecordSection, carry.productCode, carry.version, carry.view == KEY_WOW64_32KEY ? 32 : 64,
                             carry.targetFolder, exportFile, carry.time, dependents))) {
        result = WriteFlushedFile(path, text, static_cast<DWORD>(wcslen(text) * sizeof(wchar_t)));
    }
    LocalFree(text);
    return result;
}

bool ReadRecordValue(const wchar_t* record, const wchar_t* name, wchar_t* value, DWORD capacity)
{
    DWORD length = GetPrivateProfileStringW(kRecordSection, name, kMissing, value, capacity, record);
    return wcscmp(value, kMissing) != 0 && length < capacity - 1;
}

void SplitDependents(wchar_t* text, DependentServices* dependents)
{
    dependents->count = 0;
    for (wchar_t* name = text; *name != L'\0' && dependents->count < kDependentCapacity;) {
        wchar_t* end = wcschr(name, L'/');
        if (end != NULL) {
            *end = L'\0';
        }
        if (SUCCEEDED(StringCchCopyW(dependents->names[dependents->count], kServiceNameCapacity, name))) {
            ++dependents->count;
        }
        name = end != NULL ? end + 1 : name + wcslen(name);
    }
}

// A record and, when it names one, its export and the values beside it.
DWORD ReadRecord(CarryOver* carry)
{
    wchar_t record[kPathCapacity];
    wchar_t view[8];
    wchar_t exportFile[kPathCapacity];
    wchar_t values[kPathCapacity];
    wchar_t dependents[kDependentCapacity * kServiceNameCapacity];
    if (!FileInFolder(*carry, kRecordName, record) ||
        !ReadRecordValue(record, L"ProductCode", carry->productCode, kPathCapacity) ||
        !ReadRecordValue(record, L"Version", carry->version, kVersionCapacity) ||
        !ReadRecordValue(record, L"View", view, ARRAYSIZE(view)) ||
        !ReadRecordValue(record, L"Folder", carry->targetFolder, kPathCapacity) ||
        !ReadRecordValue(record, L"Export", exportFile, kPathCapacity) ||
        !ReadRecordValue(record, L"Time", carry->time, kRecordTimeCapacity) ||
        !ReadRecordValue(record, L"Dependents", dependents, ARRAYSIZE(dependents)) || carry->productCode[0] == L'\0') {
        LogMessage(L"Upgrade record unreadable(%s)", record);
        return ERROR_FILE_CORRUPT;
    }
    carry->view = wcscmp(view, L"32") == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    carry->hasSettings = exportFile[0] != L'\0';
    SplitDependents(dependents, &carry->dependents);
    if (carry->hasSettings && (!FileInFolder(*carry, kExportName, exportFile) || !IsProgramFile(exportFile) ||
                               !FileInFolder(*carry, kValuesName, values) || !IsProgramFile(values))) {
        LogMessage(L"Service settings of the upgrade of %s gone(%s)", carry->time, exportFile);
        return ERROR_FILE_CORRUPT;
    }
    return ERROR_SUCCESS;
}

// Folders are named by the UTC time of the removal: the newest sorts last.
bool FindNewestRecordFolder(const wchar_t* parent, wchar_t* folder)
{
    wchar_t pattern[kPathCapacity];
    wchar_t newest[MAX_PATH] = L"";
    WIN32_FIND_DATAW found;
    if (FAILED(StringCchPrintfW(pattern, kPathCapacity, L"%s\\*", parent))) {
        return false;
    }
    HANDLE search = FindFirstFileW(pattern, &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && found.cFileName[0] != L'.' &&
            wcscmp(found.cFileName, newest) > 0) {
            StringCchCopyW(newest, MAX_PATH, found.cFileName);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return newest[0] != L'\0' && SUCCEEDED(StringCchPrintfW(folder, kPathCapacity, L"%s\\%s", parent, newest));
}

// A folder of its own for this upgrade, named by the time of the removal.
DWORD CreateRecordFolder(CarryOver* carry)
{
    wchar_t parent[kPathCapacity] = L"";
    wchar_t aside[kPathCapacity] = L"";
    SYSTEMTIME now;
    DWORD result = static_cast<DWORD>(OpenMachineFolder(kCarryOverFolder, parent, aside));
    if (aside[0] != L'\0') {
        LogMessage(L"Set aside %s: others than administrators could change it", aside);
    }
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Failed to create a folder for the service settings in %s err=%d", parent,
                   static_cast<int>(result));
        return result;
    }
    GetSystemTime(&now);
    StringCchPrintfW(carry->time, kRecordTimeCapacity, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                     now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (FAILED(StringCchPrintfW(carry->folder, kPathCapacity, L"%s\\%04u%02u%02uT%02u%02u%02uZ", parent, now.wYear,
                                now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    result = static_cast<DWORD>(CreateAdminFolder(carry->folder));
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Failed to create a folder for the service settings in %s err=%d", parent,
                   static_cast<int>(result));
        carry->folder[0] = L'\0';
    }
    return result;
}

DWORD SaveSettings(CarryOver* carry)
{
    wchar_t values[kPathCapacity];
    wchar_t exportFile[kPathCapacity];
    carry->hasSettings = SettingsKeyExists(carry->view);
    if (!carry->hasSettings) {
        LogMessage(L"No service settings to carry over");
        return ERROR_SUCCESS;
    }
    if (!FileInFolder(*carry, kValuesName, values) || !FileInFolder(*carry, kExportName, exportFile)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    DWORD result = SaveValues(values, carry->view);
    return result == ERROR_SUCCESS ? ExportSettings(exportFile, carry->view) : result;
}

bool ReadField(const Bytes& in, DWORD* at, const BYTE** field, DWORD* size)
{
    if (in.size - *at < sizeof(DWORD)) {
        return false;
    }
    CopyMemory(size, in.data + *at, sizeof(DWORD));
    *at += sizeof(DWORD);
    if (*size > in.size - *at) {
        return false;
    }
    *field = in.data + *at;
    *at += *size;
    return true;
}

// A counted text of the values file, terminated here.
wchar_t* ReadText(const Bytes& in, DWORD* at)
{
    const BYTE* field = NULL;
    DWORD size = 0;
    if (!ReadField(in, at, &field, &size) || size % sizeof(wchar_t) != 0) {
        return NULL;
    }
    wchar_t* text = static_cast<wchar_t*>(LocalAlloc(LPTR, size + sizeof(wchar_t)));
    if (text != NULL) {
        CopyMemory(text, field, size);
    }
    return text;
}

// Texts compare without the terminators that the registry may or may not store.
DWORD TrimmedSize(DWORD type, const BYTE* data, DWORD size)
{
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        while (size >= 2 && data[size - 1] == 0 && data[size - 2] == 0) {
            size -= 2;
        }
    }
    return size;
}

bool HoldsValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    DWORD storedType = REG_NONE;
    DWORD storedSize = 0;
    bool same = false;
    if (RegQueryValueExW(key, name, NULL, &storedType, NULL, &storedSize) != ERROR_SUCCESS || storedType != type) {
        return false;
    }
    BYTE* stored = static_cast<BYTE*>(LocalAlloc(LPTR, storedSize + 1));
    if (stored != NULL && RegQueryValueExW(key, name, NULL, &storedType, stored, &storedSize) == ERROR_SUCCESS) {
        DWORD trimmed = TrimmedSize(type, stored, storedSize);
        same = trimmed == TrimmedSize(type, data, size) && memcmp(stored, data, trimmed) == 0;
    }
    LocalFree(stored);
    return same;
}

// One entry of the values file against the registry.
DWORD CompareEntry(const Bytes& in, DWORD* at, REGSAM view)
{
    const BYTE* kind = NULL;
    const BYTE* type = NULL;
    const BYTE* data = NULL;
    DWORD size = 0;
    DWORD result = ERROR_FILE_CORRUPT;
    wchar_t* path = NULL;
    wchar_t* name = NULL;
    HKEY key = NULL;
    if (in.size - *at < sizeof(DWORD)) {
        return ERROR_FILE_CORRUPT;
    }
    kind = in.data + *at;
    *at += sizeof(DWORD);
    path = ReadText(in, at);
    name = path != NULL ? ReadText(in, at) : NULL;
    if (name == NULL || in.size - *at < sizeof(DWORD)) {
        goto cleanup;
    }
    type = in.data + *at;
    *at += sizeof(DWORD);
    if (!ReadField(in, at, &data, &size)) {
        goto cleanup;
    }
    key = OpenSettingsKey(path, view);
    result = key != NULL && (*reinterpret_cast<const DWORD*>(kind) == kKeyEntry ||
                             HoldsValue(key, name, *reinterpret_cast<const DWORD*>(type), data, size))
                 ? ERROR_SUCCESS
                 : ERROR_CANTWRITE;
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Setting not carried over(%s\\%s)", path, name);
    }

cleanup:
    if (key != NULL) {
        RegCloseKey(key);
    }
    LocalFree(path);
    LocalFree(name);
    return result;
}

// Every value and subkey of the values file must be in the settings key, of
// the same type and data. 1013 (ERROR_CANTWRITE) when one is not.
DWORD CompareWithValues(const wchar_t* file, REGSAM view)
{
    Bytes in = {NULL, 0, 0};
    LARGE_INTEGER size;
    DWORD read = 0;
    DWORD result = ERROR_FILE_CORRUPT;
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    if (GetFileSizeEx(handle, &size) && size.QuadPart <= kValuesLimit) {
        in.size = static_cast<DWORD>(size.QuadPart);
        in.data = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, in.size + 1));
    }
    if (in.data != NULL && ReadFile(handle, in.data, in.size, &read, NULL) && read == in.size) {
        result = ERROR_SUCCESS;
    }
    CloseHandle(handle);
    for (DWORD at = 0; result == ERROR_SUCCESS && at < in.size;) {
        result = CompareEntry(in, &at, view);
    }
    LocalFree(in.data);
    return result;
}

// The import, judged by what the key holds afterwards: the registry editor's
// exit code tells nothing documented about what it wrote.
DWORD ImportSettings(const CarryOver& carry)
{
    wchar_t exportFile[kPathCapacity];
    wchar_t values[kPathCapacity];
    wchar_t arguments[kCommandCapacity];
    if (!FileInFolder(carry, kExportName, exportFile) || !FileInFolder(carry, kValuesName, values) ||
        FAILED(StringCchPrintfW(arguments, kCommandCapacity, L"/s \"%s\"", exportFile))) {
        LogMessage(L"Registry command too long(%s)", carry.folder);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    DWORD result = RunRegistryEditor(carry.view, arguments);
    return result != ERROR_SUCCESS ? result : CompareWithValues(values, carry.view);
}

}  // namespace

DWORD SaveCarryOver(CarryOver* carry)
{
    carry->active = false;
    carry->dependents.count = 0;
    // Windows Installer stops them with the service and leaves them stopped.
    DWORD result = static_cast<DWORD>(RecordRunningDependents(&carry->dependents));
    if (result == ERROR_SUCCESS) {
        result = CreateRecordFolder(carry);
    }
    if (result == ERROR_SUCCESS) {
        result = SaveSettings(carry);
    }
    if (result == ERROR_SUCCESS) {
        result = WriteRecord(*carry);
    }
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Service settings not saved. err=%d", static_cast<int>(result));
        if (carry->folder[0] != L'\0') {
            DeleteFolderTree(carry->folder);
        }
        carry->folder[0] = L'\0';
        return result;
    }
    carry->active = true;
    return ERROR_SUCCESS;
}

DWORD FindUnfinishedCarryOver(CarryOver* carry)
{
    wchar_t parent[kPathCapacity] = L"";
    carry->active = false;
    int located = LocateMachineFolder(kCarryOverFolder, parent);
    if (located == ERROR_ACCESS_DENIED) {
        LogMessage(L"Upgrade records not read: others than administrators could change %s", parent);
    }
    if (located != ERROR_SUCCESS || !FindNewestRecordFolder(parent, carry->folder)) {
        return ERROR_SUCCESS;
    }
    DWORD result = ReadRecord(carry);
    carry->active = result == ERROR_SUCCESS;
    return result;
}

DWORD CompleteCarryOver(CarryOver* carry, bool restartService)
{
    DWORD result = carry->hasSettings ? ImportSettings(*carry) : static_cast<DWORD>(ERROR_SUCCESS);
    if (result != ERROR_SUCCESS) {
        KeepCarryOver(*carry);
        return result;
    }
    // The settings are in place: the record has done its work, whatever the
    // service does next.
    DiscardCarryOver(carry);
    // Without settings, only the dependents that the removal stopped need it.
    bool restart = restartService && (carry->hasSettings || carry->dependents.count > 0);
    return restart ? static_cast<DWORD>(RestartService(carry->dependents)) : ERROR_SUCCESS;
}

void DiscardCarryOver(CarryOver* carry)
{
    if (carry->folder[0] != L'\0') {
        DeleteFolderTree(carry->folder);
    }
    carry->active = false;
}

void KeepCarryOver(const CarryOver& carry)
{
    wchar_t exportFile[kPathCapacity];
    if (carry.hasSettings && FileInFolder(carry, kExportName, exportFile)) {
        LogMessage(L"Service settings kept in %s", exportFile);
    }
    LogMessage(L"Upgrade record kept in %s: the next run finishes the upgrade", carry.folder);
}
