// newdev.dll for the driver update outcomes Wine's builtin never gives. It logs
// each call and answers from HKLM\Software\VantiroTestBed\NewdevDouble:
//   Result REG_DWORD (0: FALSE, else or missing TRUE), Reboot REG_DWORD (*reboot),
//   LastError REG_DWORD (missing: ERROR_GEN_FAILURE), Delay REG_DWORD (ms taken
//   while the caller's messages are handled, so that its window is drawn),
//   CallLog REG_SZ (a file, UTF-8, one line per call; see driver_bed.h).
#include <windows.h>

#include <strsafe.h>

namespace {

const wchar_t kConfigKey[] = L"Software\\VantiroTestBed\\NewdevDouble";
// Far beyond any hardware ID or INF path that setup.exe accepts; static, off
// the stack: setup.exe calls from one thread.
const size_t kLineChars = 8192;

DWORD ReadDword(const wchar_t* name, DWORD fallback)
{
    DWORD value = fallback;
    DWORD bytes = sizeof(value);
    RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes);
    return value;
}

void AppendToLog(const wchar_t* line)
{
    wchar_t path[MAX_PATH] = L"";
    DWORD pathBytes = sizeof(path);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, L"CallLog", RRF_RT_REG_SZ, nullptr, path, &pathBytes) !=
        ERROR_SUCCESS)
        return;
    static char bytes[kLineChars * 3];
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof(bytes), nullptr, nullptr);
    HANDLE file = size <= 1 ? INVALID_HANDLE_VALUE
                            : CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes, static_cast<DWORD>(size - 1), &written, nullptr);
    CloseHandle(file);
}

// The caller's own windows can be read from inside its process while it is
// busy here, which no other process can do: \twindow=left,top,right,bottom:text
// for each visible one, the text being that of its control 1000.
BOOL CALLBACK AppendVisibleWindow(HWND window, LPARAM line)
{
    if (!IsWindowVisible(window))
        return TRUE;
    RECT rect = {};
    GetWindowRect(window, &rect);
    wchar_t text[256] = L"";
    GetWindowTextW(GetDlgItem(window, 1000), text, 256);
    wchar_t entry[320] = L"";
    StringCchPrintfW(entry, 320, L"\twindow=%ld,%ld,%ld,%ld:%ls", rect.left, rect.top, rect.right, rect.bottom, text);
    StringCchCatW(reinterpret_cast<wchar_t*>(line), kLineChars - 2, entry);
    return TRUE;
}

void Delay(DWORD ms)
{
    DWORD start = GetTickCount();
    for (DWORD passed = 0; passed < ms; passed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - passed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

BOOL Answer(const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, PBOOL reboot)
{
    static wchar_t line[kLineChars];
    if (FAILED(StringCchPrintfW(line, kLineChars, L"UpdateDriverForPlugAndPlayDevicesW\t%ls\t%ls\t0x%08lX\t%ls",
                                hardwareId != nullptr ? hardwareId : L"(null)",
                                infPath != nullptr ? infPath : L"(null)", static_cast<unsigned long>(flags),
                                reboot != nullptr ? L"reboot" : L"null")))
        StringCchCopyW(line, kLineChars, L"UpdateDriverForPlugAndPlayDevicesW\t(arguments too long)");
    EnumThreadWindows(GetCurrentThreadId(), AppendVisibleWindow, reinterpret_cast<LPARAM>(line));
    StringCchCatW(line, kLineChars, L"\r\n");
    AppendToLog(line);
    Delay(ReadDword(L"Delay", 0));
    if (ReadDword(L"Result", 1) == 0) {
        SetLastError(ReadDword(L"LastError", ERROR_GEN_FAILURE));
        return FALSE;
    }
    if (reboot != nullptr)
        *reboot = ReadDword(L"Reboot", 0) != 0 ? TRUE : FALSE;
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND, LPCWSTR hardwareId, LPCWSTR infPath, DWORD flags,
                                                          PBOOL reboot)
{
    return Answer(hardwareId, infPath, flags, reboot);
}
