// Planted beside setup.exe or in the current folder under a system program's
// name (msiexec.exe, regedit.exe, net.exe), or put in the system folder in
// place of net.exe: when it runs it leaves "<its own path>.ran" beside itself
// and ends with 2, as Windows' net does on most failures.
#include <windows.h>

#include <strsafe.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    wchar_t marker[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(nullptr, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || FAILED(StringCchCatW(marker, MAX_PATH + 8, L".ran")))
        return 2;
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return 2;
}
