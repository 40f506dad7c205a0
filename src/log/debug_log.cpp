#include "log/debug_log.h"

#include <stdarg.h>
#include <wchar.h>

#include "core/process_state.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

// Most messages fit here; a longer one gets room of its own.
const int kMessageCapacity = 1536;
const size_t kLongestMessage = 32768;
const int kStampCapacity = 32;
const wchar_t kByteOrderMark = 0xFEFF;

// The log is the process's own, as the run is.
wchar_t g_besidePath[kPathCapacity] = L"";
wchar_t g_machinePath[kPathCapacity] = L"";

// A new file starts with the byte-order mark.
bool AppendToFile(const wchar_t* path, const wchar_t* text, size_t length)
{
    DWORD written = 0;
    LARGE_INTEGER size;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (GetFileSizeEx(file, &size) && size.QuadPart == 0) {
        WriteFile(file, &kByteOrderMark, sizeof(kByteOrderMark), &written, NULL);
    }
    bool ok = WriteFile(file, text, static_cast<DWORD>(length * sizeof(wchar_t)), &written, NULL) != FALSE;
    CloseHandle(file);
    return ok;
}

// One write per file: the time, the message, the line end.
void AppendLine(const wchar_t* message)
{
    SYSTEMTIME now;
    wchar_t stamp[kStampCapacity];
    wchar_t* line = NULL;
    size_t capacity = wcslen(message) + kStampCapacity + 2;
    GetLocalTime(&now);
    StringCchPrintfW(stamp, kStampCapacity, L"%04d/%02d/%02d %02d:%02d:%02d.%03d ", now.wYear, now.wMonth, now.wDay,
                     now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    line = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, capacity * sizeof(wchar_t)));
    if (line == NULL || FAILED(StringCchPrintfW(line, capacity, L"%s%s\r\n", stamp, message))) {
        LocalFree(line);
        return;
    }
    if (g_besidePath[0] != L'\0') {
        AppendToFile(g_besidePath, line, wcslen(line));
    }
    if (g_machinePath[0] != L'\0') {
        AppendToFile(g_machinePath, line, wcslen(line));
    }
    LocalFree(line);
}

// A message too long for the usual room is formatted again into room of its
// own, up to the longest command line there is.
void LogFormatted(const wchar_t* format, va_list args)
{
    wchar_t message[kMessageCapacity];
    va_list copy;
    va_copy(copy, args);
    HRESULT formatted = StringCchVPrintfW(message, kMessageCapacity, format, copy);
    va_end(copy);
    if (formatted != STRSAFE_E_INSUFFICIENT_BUFFER) {
        AppendLine(message);
        return;
    }
    wchar_t* longer = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, kLongestMessage * sizeof(wchar_t)));
    if (longer == NULL) {
        AppendLine(message);
        return;
    }
    StringCchVPrintfW(longer, kLongestMessage, format, args);
    AppendLine(longer);
    LocalFree(longer);
}

}  // namespace

bool StartDebugLog(const wchar_t* beside, const wchar_t* machineFolder)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    if (machineFolder[0] == L'\0' ||
        FAILED(StringCchPrintfW(g_machinePath, kPathCapacity, L"%s\\%04u%02u%02uT%02u%02u%02u.%03uZ-%lu.log",
                                machineFolder, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                now.wMilliseconds, GetCurrentProcessId()))) {
        g_machinePath[0] = L'\0';
    }
    if (FAILED(StringCchCopyW(g_besidePath, kPathCapacity, beside))) {
        g_besidePath[0] = L'\0';
    }
    // Opened once to learn whether the product folder takes the log.
    if (g_besidePath[0] != L'\0' && !AppendToFile(g_besidePath, L"", 0)) {
        g_besidePath[0] = L'\0';
        return false;
    }
    return true;
}

const wchar_t* MachineLogPath()
{
    return g_machinePath;
}

void PruneMachineLogs(const wchar_t* machineFolder, int keep)
{
    wchar_t pattern[kPathCapacity];
    wchar_t path[kPathCapacity];
    WIN32_FIND_DATAW found;
    int count = 0;
    if (FAILED(StringCchPrintfW(pattern, kPathCapacity, L"%s\\*.log", machineFolder))) {
        return;
    }
    HANDLE search = FindFirstFileW(pattern, &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        ++count;
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    // Names begin with the UTC time: the oldest sorts first.
    for (; count > keep; --count) {
        wchar_t oldest[MAX_PATH] = L"";
        search = FindFirstFileW(pattern, &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
            if (oldest[0] == L'\0' || wcscmp(found.cFileName, oldest) < 0) {
                StringCchCopyW(oldest, MAX_PATH, found.cFileName);
            }
        }
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
        }
        if (oldest[0] == L'\0' || FAILED(StringCchPrintfW(path, kPathCapacity, L"%s\\%s", machineFolder, oldest)) ||
            !DeleteFileW(path)) {
            return;
        }
    }
}

void LogMessage(const wchar_t* format, ...)
{
    if (g_besidePath[0] == L'\0' && g_machinePath[0] == L'\0') {
        return;
    }
    va_list args;
    va_start(args, format);
    LogFormatted(format, args);
    va_end(args);
}
