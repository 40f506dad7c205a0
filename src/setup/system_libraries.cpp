#include "setup/system_libraries.h"

#include "setup/setup_state.h"

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

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t path[kPathCapacity];
    UINT length = GetSystemDirectoryW(path, kPathCapacity);
    if (length == 0 || length >= static_cast<UINT>(kPathCapacity)) {
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
    static SetupApiFunctions functions;
    static int state = 0;  // 0 not tried, 1 bound, -1 unavailable
    if (state == 0) {
        HMODULE module = LoadSystemLibrary(L"setupapi.dll");
        bool bound = module != NULL && BindFunction(module, "SetupDiGetClassDevsW", &functions.getClassDevs) &&
                     BindFunction(module, "SetupDiEnumDeviceInfo", &functions.enumDeviceInfo) &&
                     BindFunction(module, "SetupDiGetDeviceRegistryPropertyW", &functions.getDeviceRegistryProperty) &&
                     BindFunction(module, "SetupDiDestroyDeviceInfoList", &functions.destroyDeviceInfoList);
        state = bound ? 1 : -1;
    }
    return state == 1 ? &functions : NULL;
}

CommandLineToArgvFunction GetCommandLineToArgv()
{
    CommandLineToArgvFunction function = NULL;
    HMODULE module = LoadSystemLibrary(L"shell32.dll");
    if (module == NULL || !BindFunction(module, "CommandLineToArgvW", &function)) {
        return NULL;
    }
    return function;
}
