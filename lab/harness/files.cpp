#include "internal.h"

#include <strsafe.h>

namespace testbed {
namespace {

const int kTempFolderAttempts = 100;

bool DeleteChildren(const std::wstring& folder)
{
    WIN32_FIND_DATAW data = {};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool ok = true;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            ok = DeleteTree(folder + L"\\" + name) && ok;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return ok;
}

}  // namespace

std::string ToBytes(const std::wstring& text, UINT codePage)
{
    std::string bytes;
    int size = text.empty() ? 0
                            : WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                                  nullptr, nullptr);
    if (size <= 0)
        return bytes;
    bytes.resize(static_cast<size_t>(size));
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

bool WriteTextFile(const std::wstring& path, const std::wstring& text, UINT codePage, bool byteOrderMark)
{
    std::string bytes = byteOrderMark && codePage == CP_UTF8 ? "\xEF\xBB\xBF" : "";
    return WriteFileBytes(path, bytes + ToBytes(text, codePage));
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
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    DWORD read = 0;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < MAXDWORD;
    if (ok)
        bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    ok = ok && (bytes->empty() || ReadFile(file, &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr)) &&
         read == bytes->size();
    CloseHandle(file);
    return ok;
}

bool DeleteTree(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(path.c_str()) != FALSE;
    // A junction's target is not ours to empty.
    bool ok = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || DeleteChildren(path);
    return RemoveDirectoryW(path.c_str()) && ok;
}

std::wstring MakeTempFolder(const std::wstring& prefix)
{
    wchar_t temp[MAX_PATH + 1] = L"";
    DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
    if (length == 0 || length > MAX_PATH)
        return std::wstring();
    std::wstring folder;
    for (int attempt = 0; attempt < kTempFolderAttempts && folder.empty(); ++attempt) {
        wchar_t unique[64] = L"";
        StringCchPrintfW(unique, ARRAYSIZE(unique), L"%lu-%lu-%d", GetCurrentProcessId(), GetTickCount(), attempt);
        std::wstring candidate = std::wstring(temp) + prefix + unique;
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            folder = candidate;
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return folder;
}

bool CopyFileTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

void PrintLine(const std::wstring& line)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::wstring text = line + L"\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        std::string bytes = ToBytes(text, CP_UTF8);
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

std::wstring TestProgramFolder()
{
    wchar_t self[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring path(self, length);
    return path.substr(0, path.rfind(L'\\') + 1);
}

}  // namespace testbed
