// Stands in for newdev.dll inside the test prefix, for the driver update
// outcomes that Wine's builtin never gives (failure, restart needed). It only
// records each call and answers as the scenario set it up in
// HKLM\Software\VantiroTestBed\NewdevDouble:
//   Result     REG_DWORD  1: return TRUE (also when missing), 0: return FALSE
//   Reboot     REG_DWORD  stored in *reboot when returning TRUE (missing: 0)
//   LastError  REG_DWORD  SetLastError value when returning FALSE (missing: ERROR_GEN_FAILURE)
//   CallLog    REG_SZ     file that gets one UTF-8 line per call (missing: no log):
//              <function>\t<hardwareId>\t<infPath>\t0x<flags>\t<reboot|null>\r\n
// tests/harness/driver_bed.cpp writes these values.
#include <windows.h>

#include <string>
#include <vector>

#include <strsafe.h>

namespace {

const wchar_t kConfigKey[] = L"Software\\VantiroTestBed\\NewdevDouble";

DWORD ReadDword(const wchar_t* name, DWORD fallback)
{
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes) ==
                   ERROR_SUCCESS
               ? value
               : fallback;
}

std::wstring ReadString(const wchar_t* name)
{
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::wstring();
    std::vector<wchar_t> chars(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(chars.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, name, RRF_RT_REG_SZ, nullptr, chars.data(), &bytes) !=
        ERROR_SUCCESS)
        return std::wstring();
    return chars.data();
}

void AppendToLog(const std::wstring& line)
{
    std::wstring path = ReadString(L"CallLog");
    if (path.empty())
        return;
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                   nullptr);
    if (size <= 0)
        return;
    std::vector<char> bytes(static_cast<size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), size, nullptr, nullptr);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

BOOL Answer(const wchar_t* function, const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags, PBOOL reboot)
{
    wchar_t flagText[16] = L"";
    StringCchPrintfW(flagText, ARRAYSIZE(flagText), L"0x%08lX", static_cast<unsigned long>(flags));
    AppendToLog(std::wstring(function) + L"\t" + (hardwareId != nullptr ? hardwareId : L"(null)") + L"\t" +
                (infPath != nullptr ? infPath : L"(null)") + L"\t" + flagText + L"\t" +
                (reboot != nullptr ? L"reboot" : L"null") + L"\r\n");
    if (ReadDword(L"Result", 1) == 0) {
        SetLastError(ReadDword(L"LastError", ERROR_GEN_FAILURE));
        return FALSE;
    }
    if (reboot != nullptr)
        *reboot = ReadDword(L"Reboot", 0) != 0 ? TRUE : FALSE;
    return TRUE;
}

std::wstring FromAnsi(const char* text)
{
    int size = text == nullptr ? 0 : MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::vector<wchar_t> chars(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, chars.data(), size);
    return chars.data();
}

}  // namespace

extern "C" BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND parent, LPCWSTR hardwareId, LPCWSTR infPath,
                                                          DWORD flags, PBOOL reboot)
{
    (void)parent;
    return Answer(L"UpdateDriverForPlugAndPlayDevicesW", hardwareId, infPath, flags, reboot);
}

extern "C" BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND parent, LPCSTR hardwareId, LPCSTR infPath,
                                                          DWORD flags, PBOOL reboot)
{
    (void)parent;
    std::wstring id = FromAnsi(hardwareId);
    std::wstring inf = FromAnsi(infPath);
    return Answer(L"UpdateDriverForPlugAndPlayDevicesA", hardwareId != nullptr ? id.c_str() : nullptr,
                  infPath != nullptr ? inf.c_str() : nullptr, flags, reboot);
}
