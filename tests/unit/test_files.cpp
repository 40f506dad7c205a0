#include "test_files.h"

#include <strsafe.h>

#include "core/setup_state.h"
#include "testbed.h"

TempFolder::TempFolder() : path_(testbed::MakeTempFolder(L"unit"))
{
    if (!path_.empty() && path_.back() != L'\\') {
        path_ += L'\\';
    }
}

TempFolder::~TempFolder()
{
    testbed::DeleteTree(path_);
}

void WriteTextFile(const std::wstring& path, const std::string& utf8)
{
    testbed::WriteFileBytes(path, utf8);
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    testbed::ReadFileBytes(path, &bytes);
    return bytes;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Utf16Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void UseProductFolder(const std::wstring& folder, int debug)
{
    ResetSetupState();
    StringCchCopyW(g_setup.programDirectory, kPathCapacity, folder.c_str());
    StringCchPrintfW(g_setup.setupFilePath, kPathCapacity, L"%sInst.Inf", folder.c_str());
    StringCchPrintfW(g_setup.logPath, kPathCapacity, L"%sdevupd.log", folder.c_str());
    g_setup.debugEnabled = debug;
}
