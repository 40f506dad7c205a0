#include "system/admin_folders.h"

#include <aclapi.h>
#include <sddl.h>
#include <wchar.h>

#include "core/process_state.h"
#include "core/system_libraries.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

// Full control for SYSTEM and Administrators, inherited by all that is made
// inside, nothing inherited from the parent, where other users may write.
const wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const wchar_t kMachineFolders[][16] = {L"VANTIRO", L"RAID Setup"};
// NT SERVICE\TrustedInstaller, which owns Windows' own folders.
const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// Rights that let their holder replace what is in a folder, or the folder.
const ACCESS_MASK kReplaceRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | GENERIC_ALL | GENERIC_WRITE;
const ACCESS_MASK kChangeRights =
    kReplaceRights | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES;
const int kAccountCapacity = 128;
const int kTreeDepth = 8;

// What a folder must hold back from others: a shared parent may let others
// add things (what they add is checked on its own), one of ours nothing.
enum FolderRule { kSharedParent, kOursAlone };

bool IsSid(PSID sid, const wchar_t* text)
{
    PSID other = NULL;
    bool same = false;
    if (ConvertStringSidToSidW(text, &other)) {
        same = EqualSid(sid, other) != FALSE;
        LocalFree(other);
    }
    return same;
}

// The account this run belongs to: an administrator's own account, or
// SYSTEM. Wine makes every file the user's.
bool IsRunningAccount(PSID sid)
{
    HANDLE token = NULL;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    bool same = false;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        same = EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) != FALSE;
    }
    CloseHandle(token);
    return same;
}

bool IsAdministration(PSID sid)
{
    return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           IsSid(sid, kTrustedInstaller);
}

// Whether an ACE lets someone outside the trusted accounts (and the creator of
// a file, which only the trusted may create) do what mask names.
bool GrantsOthers(const ACE_HEADER* header, PSID owner, ACCESS_MASK mask)
{
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
        return false;
    }
    const ACCESS_ALLOWED_ACE* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    PSID sid = const_cast<DWORD*>(&ace->SidStart);
    if ((ace->Mask & mask) == 0 || IsAdministration(sid) || IsWellKnownSid(sid, WinCreatorOwnerSid) ||
        (owner != NULL && EqualSid(sid, owner))) {
        return false;
    }
    return true;
}

// A folder itself, not a link to one, owned by the trusted and changeable by
// nobody else as far as rule says.
bool IsTrustedFolder(const wchar_t* path, FolderRule rule)
{
    bool trusted = false;
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    BY_HANDLE_FILE_INFORMATION information;
    ACL_SIZE_INFORMATION size;
    HANDLE folder =
        CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (folder == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!GetFileInformationByHandle(folder, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        goto cleanup;
    }
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, NULL,
                        &dacl, NULL, &descriptor) != ERROR_SUCCESS ||
        owner == NULL || dacl == NULL || !(IsAdministration(owner) || IsRunningAccount(owner)) ||
        !GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) {
        goto cleanup;
    }
    trusted = true;
    for (DWORD index = 0; trusted && index < size.AceCount; ++index) {
        void* ace = NULL;
        trusted = GetAce(dacl, index, &ace) && !GrantsOthers(static_cast<ACE_HEADER*>(ace), owner,
                                                             rule == kOursAlone ? kChangeRights : kReplaceRights);
    }

cleanup:
    if (descriptor != NULL) {
        LocalFree(descriptor);
    }
    CloseHandle(folder);
    return trusted;
}

// Renames a folder that others could change out of the way, to aside: what is
// in it is kept, and nothing of it is used.
int SetAside(const wchar_t* path, wchar_t* aside)
{
    DWORD random[2] = {0, 0};
    if (!GetRandomBytes(random, sizeof(random))) {
        return ERROR_GEN_FAILURE;
    }
    if (FAILED(StringCchPrintfW(aside, kPathCapacity, L"%s.untrusted-%08lX%08lX", path, random[0], random[1]))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (!MoveFileExW(path, aside, 0)) {
        aside[0] = L'\0';
        return static_cast<int>(GetLastError());
    }
    return ERROR_SUCCESS;
}

int EnsureFolder(const wchar_t* path, FolderRule rule, wchar_t* aside)
{
    int result = CreateAdminFolder(path);
    if (result != ERROR_ALREADY_EXISTS) {
        return result;
    }
    if (IsTrustedFolder(path, rule)) {
        return ERROR_SUCCESS;
    }
    result = SetAside(path, aside);
    return result == ERROR_SUCCESS ? CreateAdminFolder(path) : result;
}

int GetProgramData(wchar_t* folder)
{
    const Shell32Functions* shell = GetShell32();
    if (shell == NULL) {
        return ERROR_MOD_NOT_FOUND;
    }
    HRESULT found = shell->getFolderPath(NULL, CSIDL_COMMON_APPDATA, NULL, SHGFP_TYPE_CURRENT, folder);
    return SUCCEEDED(found) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
}

bool AppendComponent(wchar_t* path, const wchar_t* name)
{
    return SUCCEEDED(StringCchCatW(path, kPathCapacity, L"\\")) && SUCCEEDED(StringCchCatW(path, kPathCapacity, name));
}

void AppendAccount(PSID sid, wchar_t* writers, size_t capacity)
{
    wchar_t name[kAccountCapacity] = L"";
    wchar_t domain[kAccountCapacity] = L"";
    wchar_t account[2 * kAccountCapacity + 1] = L"";
    DWORD nameLength = kAccountCapacity;
    DWORD domainLength = kAccountCapacity;
    SID_NAME_USE use = SidTypeUnknown;
    wchar_t* text = NULL;
    if (LookupAccountSidW(NULL, sid, name, &nameLength, domain, &domainLength, &use)) {
        StringCchPrintfW(account, ARRAYSIZE(account), domain[0] != L'\0' ? L"%s\\%s" : L"%s%s", domain, name);
    } else if (ConvertSidToStringSidW(sid, &text)) {
        StringCchCopyW(account, ARRAYSIZE(account), text);
        LocalFree(text);
    }
    if (account[0] == L'\0' || wcsstr(writers, account) != NULL) {
        return;
    }
    if (writers[0] != L'\0') {
        StringCchCatW(writers, capacity, L", ");
    }
    StringCchCatW(writers, capacity, account);
}

bool DeleteFolderTreeAt(const wchar_t* folder, int depth)
{
    wchar_t pattern[kPathCapacity];
    wchar_t path[kPathCapacity];
    WIN32_FIND_DATAW found;
    if (depth > kTreeDepth || FAILED(StringCchPrintfW(pattern, kPathCapacity, L"%s\\*", folder))) {
        return false;
    }
    HANDLE search = FindFirstFileW(pattern, &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0 ||
            FAILED(StringCchPrintfW(path, kPathCapacity, L"%s\\%s", folder, found.cFileName))) {
            continue;
        }
        DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path);
        } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            RemoveDirectoryW(path);
        } else {
            DeleteFolderTreeAt(path, depth + 1);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return RemoveDirectoryW(folder) != FALSE;
}

}  // namespace

int CreateAdminFolder(const wchar_t* path)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    SECURITY_ATTRIBUTES attributes;
    int result = ERROR_SUCCESS;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1, &descriptor,
                                                              NULL)) {
        return static_cast<int>(GetLastError());
    }
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    if (!CreateDirectoryW(path, &attributes)) {
        result = static_cast<int>(GetLastError());
    }
    LocalFree(descriptor);
    return result;
}

int CreateRandomAdminFolder(const wchar_t* parent, const wchar_t* prefix, wchar_t* folder)
{
    int result = ERROR_ALREADY_EXISTS;
    const wchar_t* separator = parent[0] != L'\0' && parent[wcslen(parent) - 1] == L'\\' ? L"" : L"\\";
    for (int attempt = 0; attempt < 4 && result == ERROR_ALREADY_EXISTS; ++attempt) {
        DWORD random[2] = {0, 0};
        if (!GetRandomBytes(random, sizeof(random))) {
            result = ERROR_GEN_FAILURE;
        } else if (FAILED(StringCchPrintfW(folder, kPathCapacity, L"%s%s%s%08lX%08lX", parent, separator, prefix,
                                           random[0], random[1]))) {
            result = ERROR_FILENAME_EXCED_RANGE;
        } else {
            result = CreateAdminFolder(folder);
        }
    }
    if (result != ERROR_SUCCESS) {
        folder[0] = L'\0';
    }
    return result;
}

int LocateMachineFolder(const wchar_t* sub, wchar_t* folder)
{
    int result = GetProgramData(folder);
    for (size_t level = 0; result == ERROR_SUCCESS && level <= ARRAYSIZE(kMachineFolders); ++level) {
        const wchar_t* name = level < ARRAYSIZE(kMachineFolders) ? kMachineFolders[level] : sub;
        if (name[0] == L'\0') {
            break;
        }
        if (!AppendComponent(folder, name)) {
            result = ERROR_FILENAME_EXCED_RANGE;
        } else if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) {
            result = ERROR_FILE_NOT_FOUND;
        } else if (!IsTrustedFolder(folder, level == 0 ? kSharedParent : kOursAlone)) {
            result = ERROR_ACCESS_DENIED;
        }
    }
    return result;
}

int OpenMachineFolder(const wchar_t* sub, wchar_t* folder, wchar_t* setAside)
{
    setAside[0] = L'\0';
    int result = GetProgramData(folder);
    for (size_t level = 0; result == ERROR_SUCCESS && level < ARRAYSIZE(kMachineFolders); ++level) {
        result = AppendComponent(folder, kMachineFolders[level])
                     ? EnsureFolder(folder, level == 0 ? kSharedParent : kOursAlone, setAside)
                     : ERROR_FILENAME_EXCED_RANGE;
    }
    if (result == ERROR_SUCCESS && sub[0] != L'\0') {
        result = AppendComponent(folder, sub) ? EnsureFolder(folder, kOursAlone, setAside) : ERROR_FILENAME_EXCED_RANGE;
    }
    return result;
}

bool DeleteFolderTree(const wchar_t* folder)
{
    return DeleteFolderTreeAt(folder, 0);
}

void DescribeOtherWriters(const wchar_t* folder, wchar_t* writers, size_t capacity)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    ACL_SIZE_INFORMATION size;
    writers[0] = L'\0';
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              NULL, &dacl, NULL, &descriptor) != ERROR_SUCCESS) {
        return;
    }
    if (dacl == NULL) {
        StringCchCopyW(writers, capacity, L"everyone (no access list)");
    } else if (GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) {
        for (DWORD index = 0; index < size.AceCount; ++index) {
            void* ace = NULL;
            if (GetAce(dacl, index, &ace) && GrantsOthers(static_cast<ACE_HEADER*>(ace), owner, kChangeRights)) {
                AppendAccount(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, writers, capacity);
            }
        }
    }
    LocalFree(descriptor);
}
