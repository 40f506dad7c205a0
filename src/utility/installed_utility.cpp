#include "utility/installed_utility.h"

#include <wchar.h>

#include "core/platform.h"
#include "core/system_libraries.h"
#include "log/debug_log.h"
#include "system/child_process.h"
#include "utility/utility_install.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kUtilityKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc";
// The longest folder that CreateDirectoryW makes: room for an 8.3 name is kept.
const int kLongestNewFolder = kPathCapacity - 12;

// The registry does not always store the terminator: the buffer holds one
// character beyond the bytes read, which is set here.
LONG ReadRegistryText(HKEY key, const wchar_t* name, wchar_t* buffer, DWORD bytes)
{
    DWORD size = bytes;
    LONG status = RegQueryValueExW(key, name, NULL, NULL, reinterpret_cast<BYTE*>(buffer), &size);
    buffer[status == ERROR_SUCCESS ? size / sizeof(wchar_t) : 0] = L'\0';
    return status;
}

// A utility key in the view the package does not use belongs to no installed
// utility of this product: carried over, it would put its settings in place
// of the real ones. The 32-bit edition runs only where both views are one.
void LogKeyOfTheOtherView(REGSAM view)
{
    if (!Is64BitBuild()) {
        return;
    }
    REGSAM other = view == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    HKEY key = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUtilityKey, 0, KEY_QUERY_VALUE | other, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        LogMessage(L"Left alone: HKLM\\%s in the %s registry view, not the package's", kUtilityKey,
                   other == KEY_WOW64_64KEY ? L"64-bit" : L"32-bit");
    }
}

// Cuts the last path component, after a trailing "\" is dropped.
void CutToParentFolder(wchar_t* folder)
{
    size_t length = wcslen(folder);
    if (length > 0 && folder[length - 1] == L'\\') {
        folder[length - 1] = L'\0';
    }
    wchar_t* lastSeparator = wcsrchr(folder, L'\\');
    if (lastSeparator != NULL) {
        *lastSeparator = L'\0';
    }
}

// Only a plain "X:\\..." folder goes into the install command: a quote or a
// wildcard would change the command, and msiexec refuses "\\?\\" paths after
// the old version is already gone.
bool IsPlainDriveFolder(const wchar_t* folder)
{
    if (!IsFullPath(folder) || folder[0] == L'\\') {
        return false;
    }
    for (const wchar_t* c = folder; *c != L'\0'; ++c) {
        if (*c < 0x20 || wcschr(L"\"*?<>|", *c) != NULL) {
            return false;
        }
    }
    return true;
}

// msiexec creates the folder, which may not be longer than CreateDirectoryW
// takes; a folder it cannot use would fail the installation after the old
// version is already gone.
bool FitsCreateDirectory(const wchar_t* folder)
{
    size_t length = wcslen(folder);
    if (length > 0 && folder[length - 1] == L'\\') {
        --length;
    }
    return length <= static_cast<size_t>(kLongestNewFolder);
}

bool FolderExists(const wchar_t* folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(folder, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    return true;
}

// The parent of a folder the new version can go to, decided before the
// removal; otherwise parent is empty and the package's own folder is used.
LONG TakeParentOfUsableFolder(const UtilityPlan& plan, const wchar_t* value, wchar_t* parent)
{
    parent[0] = L'\0';
    if (IsPlainDriveFolder(value) && FitsCreateDirectory(value) &&
        SUCCEEDED(StringCchCopyW(parent, kPathCapacity, value))) {
        CutToParentFolder(parent);
        if (CanInstallInto(plan, parent)) {
            return ERROR_SUCCESS;
        }
    }
    LogMessage(L"Unusable folder(%s)", value);
    parent[0] = L'\0';
    return ERROR_BAD_PATHNAME;
}

// Whether the product is installed at all, by Windows Installer's word.
bool IsProductKnown(const wchar_t* productCode)
{
    const MsiFunctions* msi = GetMsi();
    MSIHANDLE product = 0;
    UINT opened = msi != NULL ? msi->openProduct(productCode, &product) : ERROR_MOD_NOT_FOUND;
    if (opened != ERROR_SUCCESS) {
        LogMessage(L"Utility is not installed.(%s) err=%d", productCode, static_cast<int>(opened));
        return false;
    }
    msi->closeHandle(product);
    return true;
}

}  // namespace

LONG OpenUninstallEntry(const wchar_t* productCode, HKEY* key, REGSAM* view)
{
    wchar_t path[kPathCapacity];
    if (FAILED(StringCchPrintfW(path, kPathCapacity, L"%s%s", kUninstallKey, productCode))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    *view = KEY_WOW64_64KEY;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | *view, key);
    if (status == ERROR_FILE_NOT_FOUND) {
        *view = KEY_WOW64_32KEY;
        status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | *view, key);
    }
    return status;
}

void FindInstalledUtility(UtilityPlan* plan)
{
    HKEY key = NULL;
    plan->installed = kNotInstalled;
    plan->installedVersion[0] = L'\0';
    if (!IsProductKnown(plan->productCode)) {
        return;
    }
    plan->installed = kInstalledOlder;
    if (OpenUninstallEntry(plan->productCode, &key, &plan->view) != ERROR_SUCCESS) {
        LogMessage(L"Failed to open uninstall reg");
    } else {
        LONG status = ReadRegistryText(key, L"DisplayVersion", plan->installedVersion,
                                       (kInstalledVersionCapacity - 1) * sizeof(wchar_t));
        RegCloseKey(key);
        if (status == ERROR_MORE_DATA) {
            LogMessage(L"Installed version unreadable");
            plan->installed = kInstalledUnreadable;
            return;
        }
        if (status == ERROR_SUCCESS) {
            LogMessage(L"Utility is installed.version = %s", plan->installedVersion);
        } else {
            LogMessage(L"UninstallString value not found.");
        }
    }
    if (IsNewerUtilityVersion(plan->packageVersion, plan->installedVersion) != 1) {
        plan->installed = kInstalledCurrent;
    }
}

void ParseUtilityVersion(const wchar_t* text, int parts[4])
{
    const wchar_t* position = text;
    for (int part = 0; part < 4; ++part) {
        // Unsigned, so that the arithmetic wraps instead of overflowing.
        unsigned int value = 0;
        for (; *position != L'\0'; ++position) {
            if (*position == L'.') {
                ++position;
                break;
            }
            value = value * 10u + (static_cast<unsigned int>(static_cast<unsigned short>(*position)) - 48u);
        }
        parts[part] = static_cast<int>(value);
    }
}

int IsNewerUtilityVersion(const wchar_t* packageVersion, const wchar_t* installedVersion)
{
    int latest[4];
    int current[4];
    ParseUtilityVersion(packageVersion, latest);
    ParseUtilityVersion(installedVersion, current);
    LogMessage(L"Check version.New=%d.%d.%d.%d Current=%d.%d.%d.%d", latest[0], latest[1], latest[2], latest[3],
               current[0], current[1], current[2], current[3]);
    for (int part = 0; part < 4; ++part) {
        if (latest[part] != current[part]) {
            return latest[part] > current[part] ? 1 : 0;
        }
    }
    return 0;
}

LONG FindTargetFolder(UtilityPlan* plan)
{
    wchar_t value[kCommandCapacity + 1] = L"";
    HKEY key = NULL;
    plan->targetFolder[0] = L'\0';
    LogKeyOfTheOtherView(plan->view);
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUtilityKey, 0, KEY_QUERY_VALUE | plan->view, &key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = ReadRegistryText(key, L"InstallationDirectory", value, kCommandCapacity * sizeof(wchar_t));
    RegCloseKey(key);
    if (result == ERROR_MORE_DATA) {
        LogMessage(L"Unusable folder(longer than %d characters)", kCommandCapacity - 1);
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    if (value[0] != L'\0') {
        LogMessage(L"Prev folder(%s)", value);
        result = TakeParentOfUsableFolder(*plan, value, plan->targetFolder);
    }
    if (plan->targetFolder[0] != L'\0' && !FolderExists(plan->targetFolder)) {
        LogMessage(L"No such dir(%s)", plan->targetFolder);
        plan->targetFolder[0] = L'\0';
        result = ERROR_FILE_NOT_FOUND;
    }
    LogMessage(L"Prev installed folder = %s", plan->targetFolder);
    return result;
}

bool IsUsableTargetFolder(const UtilityPlan& plan, const wchar_t* folder)
{
    if (folder[0] == L'\0') {
        return false;
    }
    if (IsPlainDriveFolder(folder) && FitsCreateDirectory(folder) && CanInstallInto(plan, folder) &&
        FolderExists(folder)) {
        return true;
    }
    LogMessage(L"Unusable folder(%s)", folder);
    return false;
}
