#pragma once

#include <windows.h>

#include <string>

// A folder of its own under the temporary folder, removed with its files
// when the test ends.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Full path ending in "\".
    const std::wstring& path() const
    {
        return path_;
    }
    std::wstring file(const std::wstring& name) const
    {
        return path_ + name;
    }

private:
    std::wstring path_;
};

void WriteTextFile(const std::wstring& path, const std::string& utf8);
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

// The bytes of a text as the log writes it: UTF-16LE without terminator.
std::string Utf16Bytes(const std::wstring& text);

// Sets g_setup up as LocateSetupFile would for a product folder, with the log on.
void UseProductFolder(const std::wstring& folder, int debug);
