#include "log/debug_log.h"

#include <stdarg.h>
#include <windows.h>

#include "core/process_state.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

// Room for a whole command line and what is said around it.
const int kMessageCapacity = 1536;
const int kLineCapacity = kMessageCapacity + 32;

// The log is the process's own, as the run is.
wchar_t g_logPath[kPathCapacity] = L"";

void AppendLineToLog(const wchar_t* line)
{
    HANDLE file = CreateFileW(g_logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(lstrlenW(line)) * sizeof(wchar_t), &written, NULL);
    CloseHandle(file);
}

}  // namespace

void StartDebugLog(const wchar_t* path)
{
    if (FAILED(StringCchCopyW(g_logPath, kPathCapacity, path))) {
        g_logPath[0] = L'\0';
    }
}

void LogMessage(const wchar_t* format, ...)
{
    if (g_logPath[0] == L'\0') {
        return;
    }
    wchar_t message[kMessageCapacity] = L"";
    va_list args;
    va_start(args, format);
    // A message that does not fit is cut; the formatter still terminates it.
    StringCchVPrintfW(message, kMessageCapacity, format, args);
    va_end(args);

    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t line[kLineCapacity] = L"";
    if (FAILED(StringCchPrintfW(line, kLineCapacity, L"%04d/%02d/%02d %02d:%02d:%02d.%03d %s\r\n", now.wYear,
                                now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                                message))) {
        return;
    }
    AppendLineToLog(line);
}
