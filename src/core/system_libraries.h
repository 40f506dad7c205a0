#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <newdev.h>
#include <setupapi.h>
#include <shlobj.h>

// The program runs with administrator rights from download folders and
// removable media, so it must never pick up a DLL planted beside it or in the
// current folder. RestrictDllSearch runs first of all; every library that is
// not a known DLL is then loaded from the system folder by full path.
void RestrictDllSearch();
HMODULE LoadSystemLibrary(const wchar_t* name);
// The system folder, kPathCapacity characters at most, without a trailing
// "\"; false (and empty) when it cannot be told or does not fit.
bool GetSystemFolder(wchar_t* folder);

// Each Get function loads its library once and returns NULL when the library
// or one of its functions is not there.

struct SetupApiFunctions {
    decltype(&SetupDiGetClassDevsW) getClassDevs;
    decltype(&SetupDiEnumDeviceInfo) enumDeviceInfo;
    decltype(&SetupDiGetDeviceRegistryPropertyW) getDeviceRegistryProperty;
    decltype(&SetupDiDestroyDeviceInfoList) destroyDeviceInfoList;
};
const SetupApiFunctions* GetSetupApi();

// The window functions: most runs end without a box or a window (a quiet run,
// a run without a controller), and user32 brings the display driver with it.
struct User32Functions {
    decltype(&LoadStringW) loadString;
    decltype(&MessageBoxW) messageBox;
    decltype(&GetProcessWindowStation) getProcessWindowStation;
    decltype(&GetUserObjectInformationW) getUserObjectInformation;
    decltype(&CreateDialogParamW) createDialogParam;
    decltype(&ShowWindow) showWindow;
    decltype(&GetDlgItem) getDlgItem;
    decltype(&SetWindowTextW) setWindowText;
    decltype(&DestroyWindow) destroyWindow;
    decltype(&GetSystemMetrics) getSystemMetrics;
    decltype(&GetWindowRect) getWindowRect;
    decltype(&SetWindowPos) setWindowPos;
    decltype(&PeekMessageW) peekMessage;
    decltype(&DispatchMessageW) dispatchMessage;
    decltype(&ExitWindowsEx) exitWindowsEx;
};
const User32Functions* GetUser32();

struct NewdevFunctions {
    decltype(&UpdateDriverForPlugAndPlayDevicesW) updateDriverForPlugAndPlayDevices;
};
const NewdevFunctions* GetNewdev();

struct VersionFunctions {
    decltype(&GetFileVersionInfoSizeW) getFileVersionInfoSize;
    decltype(&GetFileVersionInfoW) getFileVersionInfo;
    decltype(&VerQueryValueW) verQueryValue;
};
const VersionFunctions* GetVersionFunctions();

struct MsiFunctions {
    decltype(&MsiOpenDatabaseW) openDatabase;
    decltype(&MsiDatabaseGetPrimaryKeysW) databaseGetPrimaryKeys;
    decltype(&MsiDatabaseOpenViewW) databaseOpenView;
    decltype(&MsiViewExecute) viewExecute;
    decltype(&MsiViewFetch) viewFetch;
    decltype(&MsiRecordGetStringW) recordGetString;
    decltype(&MsiCloseHandle) closeHandle;
    decltype(&MsiOpenProductW) openProduct;
};
const MsiFunctions* GetMsi();

// The shell, for the machine's folders: loaded only by runs that need one.
struct Shell32Functions {
    decltype(&SHGetFolderPathW) getFolderPath;
};
const Shell32Functions* GetShell32();

// Random bytes from the system's generator (RtlGenRandom). It is bound at run
// time: advapi32 forwards it to a DLL that is not a known DLL, which a static
// import would have the loader look for beside the program; where the search
// cannot be restricted, that DLL is loaded from the system folder first.
bool GetRandomBytes(void* buffer, ULONG size);
