// Stands in for a product's own uninstall program that lies in a folder of
// its own: it hands its arguments ("/X{code} /qn") to msiexec.exe of the
// system folder, so that the product is really removed, and leaves
// "<its own path>.cwd" beside itself with the current folder it ran in
// (UTF-16). Ends with msiexec's exit code.
#include <windows.h>

#include "../doubles/hand_on.h"

namespace {

void RecordCurrentFolder()
{
    wchar_t marker[MAX_PATH + 8];
    wchar_t folder[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, marker, MAX_PATH);
    DWORD folderLength = GetCurrentDirectoryW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH || folderLength == 0 || folderLength >= MAX_PATH ||
        FAILED(StringCchCatW(marker, MAX_PATH + 8, L".cwd")))
        return;
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, folder, folderLength * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    RecordCurrentFolder();
    return static_cast<int>(RunAndWait(GetSystemDirectoryW, L"msiexec.exe", OwnArguments()));
}
