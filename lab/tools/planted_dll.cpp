// A DLL planted in the product folder: when it is loaded it leaves
// "<its own path>.loaded" beside itself.
#include <windows.h>

#include <strsafe.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    wchar_t marker[MAX_PATH + 16];
    DWORD length = reason == DLL_PROCESS_ATTACH ? GetModuleFileNameW(instance, marker, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH || FAILED(StringCchCatW(marker, MAX_PATH + 16, L".loaded")))
        return TRUE;
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
