// Stands in for version.dll inside the test prefix, for a version block that
// Windows reports the size of and then fails to read, as when the file is
// replaced or locked between the two calls, which no run can time: every
// driver image (*.sys) is refused by GetFileVersionInfoW. Everything else goes
// to the implementation in kernelbase, which Wine's user32, setupapi and msi
// call through this DLL too.
#include <windows.h>

#include <wchar.h>

namespace {

typedef BOOL(WINAPI* ReadFunction)(LPCWSTR, DWORD, DWORD, LPVOID);

bool IsDriverImage(LPCWSTR file)
{
    size_t length = file != nullptr ? wcslen(file) : 0;
    return length >= 4 && _wcsicmp(file + length - 4, L".sys") == 0;
}

}  // namespace

extern "C" BOOL WINAPI DoubleGetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data)
{
    if (IsDriverImage(file)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
    ReadFunction read = kernelbase == nullptr ? nullptr
                                              : reinterpret_cast<ReadFunction>(reinterpret_cast<void*>(
                                                    GetProcAddress(kernelbase, "GetFileVersionInfoW")));
    if (read == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return read(file, handle, size, data);
}
