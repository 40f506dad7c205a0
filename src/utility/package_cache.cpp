#include "utility/package_cache.h"

#include <wchar.h>

#include "system/admin_folders.h"
#include "core/process_state.h"
#include "log/debug_log.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kCacheFolder[] = L"Package Cache";
const wchar_t kStagingPrefix[] = L".partial-";
const wchar_t kCodeCharacters[] = L"{}-0123456789ABCDEFabcdef";
const wchar_t kVersionCharacters[] = L".-_0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int OpenCache(wchar_t* folder)
{
    wchar_t aside[kPathCapacity] = L"";
    int result = OpenMachineFolder(kCacheFolder, folder, aside);
    if (aside[0] != L'\0') {
        LogMessage(L"Set aside %s: others than administrators could change it", aside);
    }
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Package cache %s not usable err=%d", folder, result);
    }
    return result;
}

// Staging folders of runs that ended before they were done with them; one run
// at a time, so none is in use.
void RemoveStaleStaging(const wchar_t* cache)
{
    wchar_t pattern[kPathCapacity];
    wchar_t folder[kPathCapacity];
    WIN32_FIND_DATAW found;
    if (FAILED(StringCchPrintfW(pattern, kPathCapacity, L"%s\\%s*", cache, kStagingPrefix))) {
        return;
    }
    HANDLE search = FindFirstFileW(pattern, &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (SUCCEEDED(StringCchPrintfW(folder, kPathCapacity, L"%s\\%s", cache, found.cFileName))) {
            DeleteFolderTree(folder);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
}

const wchar_t* FileNameOf(const wchar_t* path)
{
    const wchar_t* separator = wcsrchr(path, L'\\');
    return separator != NULL ? separator + 1 : path;
}

// The folder that holds a copy, which path names.
bool CutToFolder(const wchar_t* path, wchar_t* folder)
{
    if (FAILED(StringCchCopyW(folder, kPathCapacity, path))) {
        return false;
    }
    wchar_t* separator = wcsrchr(folder, L'\\');
    if (separator == NULL) {
        return false;
    }
    *separator = L'\0';
    return true;
}

bool IsMadeOf(const wchar_t* text, const wchar_t* characters)
{
    return text[0] != L'\0' && wcsspn(text, characters) == wcslen(text) && wcsstr(text, L"..") == NULL;
}

}  // namespace

int StagePackage(const wchar_t* source, wchar_t* staged)
{
    wchar_t cache[kPathCapacity] = L"";
    wchar_t folder[kPathCapacity] = L"";
    staged[0] = L'\0';
    int result = OpenCache(cache);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    RemoveStaleStaging(cache);
    result = CreateRandomAdminFolder(cache, kStagingPrefix, folder);
    if (result == ERROR_SUCCESS &&
        FAILED(StringCchPrintfW(staged, kPathCapacity, L"%s\\%s", folder, FileNameOf(source)))) {
        result = ERROR_FILENAME_EXCED_RANGE;
    }
    // The copy takes the folder's rights; a source that is no plain file
    // (a folder, a device) gives no package.
    if (result == ERROR_SUCCESS && !CopyFileW(source, staged, TRUE)) {
        LogMessage(L"Failed to copy package(%s) err=%d", source, static_cast<int>(GetLastError()));
        result = ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    }
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Package not copied into the cache(%s) err=%d", source, result);
        if (folder[0] != L'\0') {
            DeleteFolderTree(folder);
        }
        staged[0] = L'\0';
    }
    return result;
}

int ComposeCachedPackage(const wchar_t* staged, const wchar_t* productCode, const wchar_t* version, wchar_t* entry,
                         wchar_t* cached)
{
    wchar_t staging[kPathCapacity];
    wchar_t cache[kPathCapacity];
    // Both go into a folder name: a "\" or ".." in them would name another folder.
    if (!IsMadeOf(productCode, kCodeCharacters) || !IsMadeOf(version, kVersionCharacters)) {
        LogMessage(L"Package properties cannot name a cache folder(%s %s)", productCode, version);
        return ERROR_INSTALL_PACKAGE_INVALID;
    }
    if (!CutToFolder(staged, staging) || !CutToFolder(staging, cache) ||
        FAILED(StringCchPrintfW(entry, kPathCapacity, L"%s\\%sv%s", cache, productCode, version)) ||
        FAILED(StringCchPrintfW(cached, kPathCapacity, L"%s\\%s", entry, FileNameOf(staged)))) {
        LogMessage(L"Cached package path too long(%s)", staged);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

int CachePackage(const wchar_t* staged, const wchar_t* productCode, const wchar_t* version, wchar_t* cached)
{
    wchar_t entry[kPathCapacity];
    wchar_t folder[kPathCapacity];
    int result = ComposeCachedPackage(staged, productCode, version, entry, cached);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (GetFileAttributesW(entry) != INVALID_FILE_ATTRIBUTES) {
        DeleteFolderTree(entry);
    }
    if (!CutToFolder(staged, folder) || !MoveFileExW(folder, entry, 0)) {
        result = static_cast<int>(GetLastError());
        LogMessage(L"Package not cached in %s err=%d", entry, result);
        cached[0] = L'\0';
        return result;
    }
    LogMessage(L"Package cached in %s", cached);
    return ERROR_SUCCESS;
}

void RemovePackageCopy(const wchar_t* package)
{
    wchar_t folder[kPathCapacity];
    if (package[0] != L'\0' && CutToFolder(package, folder)) {
        DeleteFolderTree(folder);
    }
}

void RemoveCachedVersion(const wchar_t* productCode, const wchar_t* version)
{
    wchar_t cache[kPathCapacity] = L"";
    wchar_t entry[kPathCapacity];
    if (!IsMadeOf(productCode, kCodeCharacters) || !IsMadeOf(version, kVersionCharacters) ||
        OpenCache(cache) != ERROR_SUCCESS ||
        FAILED(StringCchPrintfW(entry, kPathCapacity, L"%s\\%sv%s", cache, productCode, version)) ||
        GetFileAttributesW(entry) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (DeleteFolderTree(entry)) {
        LogMessage(L"Cached package of %s removed", version);
    }
}
