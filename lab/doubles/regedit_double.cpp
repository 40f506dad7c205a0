// regedit.exe for the outcomes Wine's never gives (it exits with 0 even when it
// did nothing), put into the system folder, where setup.exe looks first. Each
// command goes on to the real one in the Windows folder unless
// HKLM\Software\VantiroTestBed\RegeditDouble says otherwise: Export (for /e)
// or Import (for /s) "fail <n>" exits with n, Export "empty" leaves an empty file,
// Import "nothing" exits with 0 and imports nothing.
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#include "hand_on.h"

namespace {

const wchar_t kConfigKey[] = L"Software\\VantiroTestBed\\RegeditDouble";

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const wchar_t* arguments = OwnArguments();
    const bool exporting = _wcsnicmp(arguments, L"/e ", 3) == 0;
    wchar_t behaviour[64] = L"";
    DWORD bytes = sizeof(behaviour);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, exporting ? L"Export" : L"Import", RRF_RT_REG_SZ, nullptr,
                     behaviour, &bytes) != ERROR_SUCCESS)
        return static_cast<int>(RunAndWait(GetSystemWindowsDirectoryW, L"regedit.exe", arguments));
    if (wcsncmp(behaviour, L"fail ", 5) == 0)
        return _wtoi(behaviour + 5);
    if (wcscmp(behaviour, L"nothing") == 0)
        return 0;
    if (exporting && wcscmp(behaviour, L"empty") == 0) {
        // /e "<file>" <key>
        wchar_t file[MAX_PATH] = L"";
        const wchar_t* start = wcschr(arguments, L'"');
        const wchar_t* end = start == nullptr ? nullptr : wcschr(start + 1, L'"');
        if (end == nullptr || FAILED(StringCchCopyNW(file, MAX_PATH, start + 1, end - start - 1)))
            return 1;
        HANDLE handle = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        return 0;
    }
    return static_cast<int>(RunAndWait(GetSystemWindowsDirectoryW, L"regedit.exe", arguments));
}
