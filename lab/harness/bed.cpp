#include "internal.h"

#include <algorithm>

// initguid.h first, so that devguid.h defines the class GUIDs here.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

namespace testbed {
namespace {

bool Gone(LONG status)
{
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

// A null list leaves the device without the property.
bool CreateDevice(const std::vector<std::wstring>* hardwareIds, std::wstring* instanceId)
{
    std::wstring multiSz;
    for (const auto& id : hardwareIds != nullptr ? *hardwareIds : std::vector<std::wstring>())
        multiSz.append(id).push_back(L'\0');
    // An empty list still needs two terminators.
    multiSz.append(multiSz.empty() ? 2 : 1, L'\0');
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof(data);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SCSIADAPTER, nullptr);
    wchar_t id[512] = L"";
    bool ok =
        set != INVALID_HANDLE_VALUE &&
        SetupDiCreateDeviceInfoW(set, L"SCSIAdapter", &GUID_DEVCLASS_SCSIADAPTER, nullptr, nullptr, DICD_GENERATE_ID,
                                 &data) &&
        (hardwareIds == nullptr ||
         SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(multiSz.data()),
                                           static_cast<DWORD>(multiSz.size() * sizeof(wchar_t)))) &&
        SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data) &&
        SetupDiGetDeviceInstanceIdW(set, &data, id, ARRAYSIZE(id), nullptr);
    *instanceId = id;
    DWORD error = GetLastError();
    if (set != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(set);
    SetLastError(error);
    return ok;
}

}  // namespace

bool CreateRootDevice(const std::wstring& hardwareId, std::wstring* instanceId)
{
    const std::vector<std::wstring> ids = {hardwareId};
    return CreateDevice(&ids, instanceId);
}

bool CreateRootDevice(const std::vector<std::wstring>& hardwareIds, std::wstring* instanceId)
{
    return CreateDevice(&hardwareIds, instanceId);
}

bool CreateRootDeviceWithoutHardwareId(std::wstring* instanceId)
{
    return CreateDevice(nullptr, instanceId);
}

bool RemoveDevice(const std::wstring& instanceId)
{
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof(data);
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    bool ok = set != INVALID_HANDLE_VALUE && SetupDiOpenDeviceInfoW(set, instanceId.c_str(), nullptr, 0, &data) &&
              SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

bool SetAppDefault(const std::wstring& exeName, const std::wstring& key, const std::wstring& name,
                   const std::wstring& value)
{
    return WriteRegString(HKEY_CURRENT_USER,
                          L"Software\\Wine\\AppDefaults\\" + exeName + (key.empty() ? L"" : L"\\" + key), name, value);
}

bool RemoveAppDefaults(const std::wstring& exeName)
{
    return DeleteRegTree(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + exeName);
}

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool ReadRegValue(HKEY root, const std::wstring& key, const std::wstring& name, std::wstring* text, DWORD* type,
                  REGSAM view)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    DWORD kind = REG_NONE;
    DWORD size = 0;
    LONG status = RegQueryValueExW(handle, name.c_str(), nullptr, &kind, nullptr, &size);
    // Two spare terminators for data stored without one.
    std::vector<BYTE> data(size + 2 * sizeof(wchar_t), 0);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(handle, name.c_str(), nullptr, &kind, data.data(), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS)
        return false;
    if (type != nullptr)
        *type = kind;
    DWORD number = 0;
    CopyMemory(&number, data.data(), sizeof(number));
    *text = kind == REG_DWORD ? std::to_wstring(number) : std::wstring(reinterpret_cast<const wchar_t*>(data.data()));
    return true;
}

bool WriteRegValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const void* data,
                   size_t size, REGSAM view)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExW(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)) ==
              ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

bool WriteRegString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value, DWORD type,
                    REGSAM view)
{
    return WriteRegValue(root, key, name, type, value.c_str(), (value.size() + 1) * sizeof(wchar_t), view);
}

bool WriteRegDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view)
{
    return WriteRegValue(root, key, name, REG_DWORD, &value, sizeof(value), view);
}

bool DeleteRegValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view)
{
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE | view, &handle);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueW(handle, name.c_str());
        RegCloseKey(handle);
    }
    return Gone(status);
}

bool DeleteRegTree(HKEY root, const std::wstring& key, REGSAM view)
{
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(root, key.c_str(), 0,
                                DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view, &handle);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteTreeW(handle, nullptr);
        RegCloseKey(handle);
        if (status == ERROR_SUCCESS)
            status = RegDeleteKeyExW(root, key.c_str(), view, 0);
    }
    return Gone(status);
}

std::string ToBytes(const std::wstring& text, UINT codePage)
{
    int size = text.empty() ? 0
                            : WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                                  nullptr, nullptr);
    std::string bytes(static_cast<size_t>(std::max(size, 0)), '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    return CloseHandle(file) && ok;
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size = {};
    DWORD read = 0;
    bool ok = file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart < MAXDWORD;
    bytes->assign(ok ? static_cast<size_t>(size.QuadPart) : 0, '\0');
    ok = ok && (bytes->empty() || ReadFile(file, &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr)) &&
         read == bytes->size();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

bool DeleteTree(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Gone(static_cast<LONG>(GetLastError()));
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(path.c_str()) != FALSE;
    bool ok = true;
    WIN32_FIND_DATAW data = {};
    // A junction's target is not ours to empty.
    HANDLE find = attributes & FILE_ATTRIBUTE_REPARSE_POINT ? INVALID_HANDLE_VALUE
                                                            : FindFirstFileW((path + L"\\*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            ok = DeleteTree(path + L"\\" + name) && ok;
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return RemoveDirectoryW(path.c_str()) && ok;
}

std::wstring MakeTempFolder(const std::wstring& prefix)
{
    wchar_t temp[MAX_PATH + 1] = L"";
    DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
    for (int attempt = 0; length != 0 && length <= MAX_PATH && attempt < 100; ++attempt) {
        const std::wstring folder = temp + prefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(attempt);
        if (CreateDirectoryW(folder.c_str(), nullptr))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return std::wstring();
}

bool CopyFileTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

std::wstring TestProgramFolder()
{
    wchar_t self[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length < MAX_PATH ? length : 0);
    return path.substr(0, path.rfind(L'\\') + 1);
}

std::wstring SystemFolder()
{
    wchar_t path[MAX_PATH] = L"";
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

void PrintLine(const std::wstring& line)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const std::wstring text = line + L"\n";
    DWORD mode = 0;
    DWORD written = 0;
    const std::string bytes = ToBytes(text, CP_UTF8);
    if (GetConsoleMode(out, &mode))
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    else
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace testbed
