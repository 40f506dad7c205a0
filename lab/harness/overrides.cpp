#include "internal.h"

namespace testbed {

bool SetAppDefault(const std::wstring& exeName, const std::wstring& key, const std::wstring& name,
                   const std::wstring& value)
{
    HKEY handle = nullptr;
    std::wstring path = L"Software\\Wine\\AppDefaults\\" + exeName + (key.empty() ? L"" : L"\\" + key);
    LONG status =
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    return status == ERROR_SUCCESS;
}

bool RemoveAppDefaults(const std::wstring& exeName)
{
    LONG status = RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + exeName).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace testbed
