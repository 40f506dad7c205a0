// Registry helpers shared by the library's files. A view is KEY_WOW64_64KEY,
// KEY_WOW64_32KEY or 0 for our own; "gone" counts as deleted.
#pragma once

#include "testbed.h"

namespace testbed {

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view = 0);
// REG_DWORD reads as decimal text, strings as stored (never expanded).
bool ReadRegValue(HKEY root, const std::wstring& key, const std::wstring& name, std::wstring* text,
                  DWORD* type = nullptr, REGSAM view = 0);
bool WriteRegString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value,
                    DWORD type = REG_SZ, REGSAM view = 0);
bool WriteRegDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view = 0);
bool DeleteRegValue(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0);
bool DeleteRegTree(HKEY root, const std::wstring& key, REGSAM view = 0);

}  // namespace testbed
