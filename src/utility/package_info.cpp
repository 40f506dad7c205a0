#include "utility/package_info.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "config/setup_file.h"
#include "core/admin_folders.h"
#include "core/setup_state.h"
#include "core/system_libraries.h"
#include "utility/package_cache.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kProductCodeQuery[] = L"SELECT Value FROM Property WHERE Property.Property='ProductCode'";
const wchar_t kProductVersionQuery[] = L"SELECT Value FROM Property WHERE Property.Property='ProductVersion'";
const int kWritersCapacity = 512;

}  // namespace

int QueryPackageProperty(MSIHANDLE database, MSIHANDLE parameters, const wchar_t* query, wchar_t* output,
                         DWORD capacity)
{
    const MsiFunctions* msi = GetMsi();
    MSIHANDLE view = 0;
    MSIHANDLE row = 0;
    DWORD count = capacity;
    UINT result = msi->databaseOpenView(database, query, &view);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"MsiDatabaseOpenView err=%d", static_cast<int>(result));
        return static_cast<int>(result);
    }
    result = msi->viewExecute(view, parameters);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"MsiViewExecute err=%d", static_cast<int>(result));
        goto cleanup;
    }
    result = msi->viewFetch(view, &row);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"MsiViewFetch err=%d", static_cast<int>(result));
        goto cleanup;
    }
    result = msi->recordGetString(row, 1, output, &count);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"MsiRecordGetString err=%d", static_cast<int>(result));
        goto cleanup;
    }
    LogMessage(L"Query result(%s)=%s", query, output);

cleanup:
    if (row != 0) {
        msi->closeHandle(row);
    }
    msi->closeHandle(view);
    return static_cast<int>(result);
}

void CopyPackageToCache()
{
    wchar_t package[kPathCapacity] = L"";
    wchar_t source[kPathCapacity] = L"";
    wchar_t folder[kPathCapacity] = L"";
    wchar_t writers[kWritersCapacity] = L"";
    g_setup.packagePath[0] = L'\0';
    if (ReadPackageName(package) == 0) {
        return;
    }
    if (FAILED(StringCchPrintfW(source, kPathCapacity, L"%s%s", g_setup.programDirectory, package))) {
        LogMessage(L"Package path too long(%s%s)", g_setup.programDirectory, package);
        g_setup.packageCopyResult = ERROR_FILENAME_EXCED_RANGE;
        return;
    }
    // Without its trailing "\", which the security functions do not take.
    if (SUCCEEDED(StringCchCopyW(folder, kPathCapacity, g_setup.programDirectory)) && folder[0] != L'\0') {
        folder[wcslen(folder) - 1] = L'\0';
        DescribeOtherWriters(folder, writers, kWritersCapacity);
    }
    if (writers[0] != L'\0') {
        LogMessage(L"Warning: the product folder can be changed by %s; the package is run from a copy", writers);
    }
    g_setup.packageCopyResult = StagePackage(source, g_setup.packagePath);
}

void RemovePackageCopyUnlessKept()
{
    if (g_setup.packageCopyKept != 1) {
        RemovePackageCopy(g_setup.packagePath);
    }
}

int ReadPackageInfo()
{
    wchar_t package[kPathCapacity] = L"";
    if (ReadPackageName(package) == 0) {
        return kNoPackage;
    }
    if (g_setup.packageCopyResult != 0) {
        return g_setup.packageCopyResult;
    }
    const MsiFunctions* msi = GetMsi();
    if (msi == NULL) {
        LogMessage(L"Failed to open package(%s). err = %d", g_setup.packagePath, ERROR_MOD_NOT_FOUND);
        return ERROR_MOD_NOT_FOUND;
    }
    MSIHANDLE database = 0;
    MSIHANDLE keys = 0;
    UINT result = msi->openDatabase(g_setup.packagePath, MSIDBOPEN_READONLY, &database);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Failed to open package(%s). err = %d", g_setup.packagePath, static_cast<int>(result));
        // 2 would read as "no package named", and as exit code "the user said No".
        return result == kNoPackage ? ERROR_INSTALL_PACKAGE_OPEN_FAILED : static_cast<int>(result);
    }
    result = msi->databaseGetPrimaryKeys(database, L"Property", &keys);
    if (result != ERROR_SUCCESS) {
        goto cleanup;
    }
    result = QueryPackageProperty(database, keys, kProductCodeQuery, g_setup.productCode, kPathCapacity);
    if (result != ERROR_SUCCESS) {
        goto cleanup;
    }
    result = QueryPackageProperty(database, keys, kProductVersionQuery, g_setup.productVersion, kVersionCapacity);

cleanup:
    // A package without its properties cannot be installed: that is reported
    // as Windows Installer reports a package it cannot use.
    if (result != ERROR_SUCCESS) {
        result = ERROR_INSTALL_PACKAGE_INVALID;
    }
    if (keys != 0) {
        msi->closeHandle(keys);
    }
    msi->closeHandle(database);
    return static_cast<int>(result);
}
