#include "internal.h"

namespace testbed {
namespace {

std::wstring AppDefaultsKey(const std::wstring& exeName)
{
    return L"Software\\Wine\\AppDefaults\\" + exeName;
}

}  // namespace

bool SetDllOverride(const std::wstring& exeName, const std::wstring& dllName, const std::wstring& loadOrder)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, (AppDefaultsKey(exeName) + L"\\DllOverrides").c_str(), 0, nullptr,
                                  0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, dllName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(loadOrder.c_str()),
                                static_cast<DWORD>((loadOrder.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    return status == ERROR_SUCCESS;
}

bool RemoveDllOverrides(const std::wstring& exeName)
{
    LONG status = RegDeleteTreeW(HKEY_CURRENT_USER, AppDefaultsKey(exeName).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace testbed
