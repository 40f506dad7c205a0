#pragma once

#include <windows.h>
#include <setupapi.h>

// The program runs with administrator rights from download folders and
// removable media, so it must never pick up a DLL planted beside it or in the
// current folder. RestrictDllSearch runs first of all; every library that is
// not a known DLL is then loaded from the system folder by full path.
void RestrictDllSearch();
HMODULE LoadSystemLibrary(const wchar_t* name);

struct SetupApiFunctions {
    decltype(&SetupDiGetClassDevsW) getClassDevs;
    decltype(&SetupDiEnumDeviceInfo) enumDeviceInfo;
    decltype(&SetupDiGetDeviceRegistryPropertyW) getDeviceRegistryProperty;
    decltype(&SetupDiDestroyDeviceInfoList) destroyDeviceInfoList;
};

// NULL when the device-installation services cannot be loaded.
const SetupApiFunctions* GetSetupApi();

// The shell is loaded at run time too: its own imports are then resolved
// from the system folder only.
typedef LPWSTR*(WINAPI* CommandLineToArgvFunction)(LPCWSTR, int*);
CommandLineToArgvFunction GetCommandLineToArgv();
