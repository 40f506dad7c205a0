#include "core/system_libraries.h"

#include "core/process_state.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

bool g_defaultDirectoriesRestricted = false;

template <typename Function>
bool BindFunction(HMODULE module, const char* name, Function* target)
{
    FARPROC address = GetProcAddress(module, name);
    if (address == NULL) {
        return false;
    }
    *target = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    return true;
}

// Loads the library on the first call and keeps the answer for later ones.
template <typename Table>
const Table* BindLibraryOnce(const wchar_t* name, bool (*bind)(HMODULE, Table*))
{
    static Table table;
    static int state = 0;  // 0 not tried, 1 bound, -1 unavailable
    if (state == 0) {
        HMODULE module = LoadSystemLibrary(name);
        state = module != NULL && bind(module, &table) ? 1 : -1;
    }
    return state == 1 ? &table : NULL;
}

bool BindSetupApi(HMODULE module, SetupApiFunctions* table)
{
    return BindFunction(module, "SetupDiGetClassDevsW", &table->getClassDevs) &&
           BindFunction(module, "SetupDiEnumDeviceInfo", &table->enumDeviceInfo) &&
           BindFunction(module, "SetupDiGetDeviceRegistryPropertyW", &table->getDeviceRegistryProperty) &&
           BindFunction(module, "SetupDiDestroyDeviceInfoList", &table->destroyDeviceInfoList);
}

bool BindUser32(HMODULE module, User32Functions* table)
{
    return BindFunction(module, "LoadStringW", &table->loadString) &&
           BindFunction(module, "MessageBoxW", &table->messageBox) &&
           BindFunction(module, "GetProcessWindowStation", &table->getProcessWindowStation) &&
           BindFunction(module, "GetUserObjectInformationW", &table->getUserObjectInformation) &&
           BindFunction(module, "CreateDialogParamW", &table->createDialogParam) &&
           BindFunction(module, "ShowWindow", &table->showWindow) &&
           BindFunction(module, "GetDlgItem", &table->getDlgItem) &&
           BindFunction(module, "SetWindowTextW", &table->setWindowText) &&
           BindFunction(module, "DestroyWindow", &table->destroyWindow) &&
           BindFunction(module, "GetSystemMetrics", &table->getSystemMetrics) &&
           BindFunction(module, "GetWindowRect", &table->getWindowRect) &&
           BindFunction(module, "SetWindowPos", &table->setWindowPos) &&
           BindFunction(module, "PeekMessageW", &table->peekMessage) &&
           BindFunction(module, "DispatchMessageW", &table->dispatchMessage) &&
           BindFunction(module, "ExitWindowsEx", &table->exitWindowsEx);
}

bool BindNewdev(HMODULE module, NewdevFunctions* table)
{
    return BindFunction(module, "UpdateDriverForPlugAndPlayDevicesW", &table->updateDriverForPlugAndPlayDevices);
}

bool BindVersion(HMODULE module, VersionFunctions* table)
{
    return BindFunction(module, "GetFileVersionInfoSizeW", &table->getFileVersionInfoSize) &&
           BindFunction(module, "GetFileVersionInfoW", &table->getFileVersionInfo) &&
           BindFunction(module, "VerQueryValueW", &table->verQueryValue);
}

bool BindMsi(HMODULE module, MsiFunctions* table)
{
    return BindFunction(module, "MsiOpenDatabaseW", &table->openDatabase) &&
           BindFunction(module, "MsiDatabaseGetPrimaryKeysW", &table->databaseGetPrimaryKeys) &&
           BindFunction(module, "MsiDatabaseOpenViewW", &table->databaseOpenView) &&
           BindFunction(module, "MsiViewExecute", &table->viewExecute) &&
           BindFunction(module, "MsiViewFetch", &table->viewFetch) &&
           BindFunction(module, "MsiRecordGetStringW", &table->recordGetString) &&
           BindFunction(module, "MsiCloseHandle", &table->closeHandle) &&
           BindFunction(module, "MsiOpenProductW", &table->openProduct);
}

bool BindShell32(HMODULE module, Shell32Functions* table)
{
    return BindFunction(module, "SHGetFolderPathW", &table->getFolderPath);
}

}  // namespace

void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories = NULL;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel != NULL && BindFunction(kernel, "SetDefaultDllDirectories", &setDefaultDllDirectories)) {
        g_defaultDirectoriesRestricted = setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    }
    // Takes the current folder out of the search on systems that lack the call above.
    SetDllDirectoryW(L"");
}

bool GetSystemFolder(wchar_t* folder)
{
    UINT length = GetSystemDirectoryW(folder, kPathCapacity);
    if (length == 0 || length >= static_cast<UINT>(kPathCapacity)) {
        folder[0] = L'\0';
        return false;
    }
    return true;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t path[kPathCapacity];
    if (!GetSystemFolder(path)) {
        return NULL;
    }
    if (FAILED(StringCchCatW(path, kPathCapacity, L"\\")) || FAILED(StringCchCatW(path, kPathCapacity, name))) {
        return NULL;
    }
    // Without default directories the library's own dependencies must come
    // from its folder, not from the program's.
    DWORD flags = g_defaultDirectoriesRestricted ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExW(path, NULL, flags);
}

const SetupApiFunctions* GetSetupApi()
{
    return BindLibraryOnce(L"setupapi.dll", BindSetupApi);
}

const User32Functions* GetUser32()
{
    return BindLibraryOnce(L"user32.dll", BindUser32);
}

const NewdevFunctions* GetNewdev()
{
    return BindLibraryOnce(L"newdev.dll", BindNewdev);
}

const VersionFunctions* GetVersionFunctions()
{
    return BindLibraryOnce(L"version.dll", BindVersion);
}

const MsiFunctions* GetMsi()
{
    return BindLibraryOnce(L"msi.dll", BindMsi);
}

const Shell32Functions* GetShell32()
{
    return BindLibraryOnce(L"shell32.dll", BindShell32);
}

bool GetRandomBytes(void* buffer, ULONG size)
{
    typedef BOOLEAN(WINAPI * GenRandomFunction)(PVOID, ULONG);
    GenRandomFunction genRandom = NULL;
    // Windows 7 without the update that brings SetDefaultDllDirectories
    // forwards SystemFunction036 to cryptbase.dll, no known DLL there, which
    // the loader would then look for in the program's folder first. Loaded
    // from the system folder beforehand, it is found among the loaded modules
    // by its name. Windows Vista has no cryptbase.dll and answers in advapi32
    // itself, and so does Wine, which has SetDefaultDllDirectories anyway: no
    // run under Wine shows the difference.
    if (!g_defaultDirectoriesRestricted && LoadSystemLibrary(L"cryptbase.dll") == NULL &&
        GetLastError() != ERROR_MOD_NOT_FOUND) {
        return false;
    }
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    return advapi != NULL && BindFunction(advapi, "SystemFunction036", &genRandom) && genRandom(buffer, size) != FALSE;
}
