#include "utility/package_info.h"

#include <wchar.h>

#include <msiquery.h>

#include "core/system_libraries.h"
#include "log/debug_log.h"
#include "system/admin_folders.h"
#include "utility/package_cache.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kProductCodeQuery[] = L"SELECT Value FROM Property WHERE Property.Property='ProductCode'";
const wchar_t kProductVersionQuery[] = L"SELECT Value FROM Property WHERE Property.Property='ProductVersion'";
const int kWritersCapacity = 512;

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

}  // namespace

void CopyPackageToCache(const SetupConfig& config, UtilityPlan* plan)
{
    const wchar_t* package = PackageName(config);
    wchar_t source[kPathCapacity] = L"";
    wchar_t folder[kPathCapacity] = L"";
    wchar_t writers[kWritersCapacity] = L"";
    plan->package[0] = L'\0';
    plan->packageCopyError = ERROR_SUCCESS;
    if (package[0] == L'\0') {
        return;
    }
    if (FAILED(StringCchPrintfW(source, kPathCapacity, L"%s%s", config.programDirectory, package))) {
        LogMessage(L"Package path too long(%s%s)", config.programDirectory, package);
        plan->packageCopyError = ERROR_FILENAME_EXCED_RANGE;
        return;
    }
    // Without its trailing "\", which the security functions do not take.
    if (SUCCEEDED(StringCchCopyW(folder, kPathCapacity, config.programDirectory)) && folder[0] != L'\0') {
        folder[wcslen(folder) - 1] = L'\0';
        DescribeOtherWriters(folder, writers, kWritersCapacity);
    }
    if (writers[0] != L'\0') {
        LogMessage(L"Warning: the product folder can be changed by %s; the package is run from a copy", writers);
    }
    plan->packageCopyError = static_cast<DWORD>(StagePackage(source, plan->package));
}

void RemovePackageCopyUnlessKept(const UtilityPlan& plan)
{
    if (!plan.packageKept) {
        RemovePackageCopy(plan.package);
    }
}

StepResult ReadPackageProperties(UtilityPlan* plan)
{
    if (plan->packageCopyError != ERROR_SUCCESS) {
        return StepFailed(plan->packageCopyError);
    }
    const MsiFunctions* msi = GetMsi();
    if (msi == NULL) {
        LogMessage(L"Failed to open package(%s). err = %d", plan->package, ERROR_MOD_NOT_FOUND);
        return StepFailed(ERROR_MOD_NOT_FOUND);
    }
    MSIHANDLE database = 0;
    MSIHANDLE keys = 0;
    UINT result = msi->openDatabase(plan->package, MSIDBOPEN_READONLY, &database);
    if (result != ERROR_SUCCESS) {
        LogMessage(L"Failed to open package(%s). err = %d", plan->package, static_cast<int>(result));
        return StepFailed(result);
    }
    result = msi->databaseGetPrimaryKeys(database, L"Property", &keys);
    if (result != ERROR_SUCCESS) {
        goto cleanup;
    }
    result = QueryPackageProperty(database, keys, kProductCodeQuery, plan->productCode, kPathCapacity);
    if (result != ERROR_SUCCESS) {
        goto cleanup;
    }
    result = QueryPackageProperty(database, keys, kProductVersionQuery, plan->packageVersion, kVersionCapacity);

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
    return StepFailed(result);
}
