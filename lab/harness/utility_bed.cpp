#include "utility_bed.h"

#include <msi.h>
#include <tlhelp32.h>

#include "internal.h"

namespace testbed {

const wchar_t kZelmonProductCode[] = L"{6D1B2C8E-3F4A-4E57-9A1C-2B7E5D0F9A31}";
const wchar_t kZelmonOld[] = L"ZelmonUtility-1.2.9.msi";
const wchar_t kZelmonNew[] = L"ZelmonUtility-1.2.10.msi";
const wchar_t kZelmonFailInstall[] = L"ZelmonUtility-1.2.10-failinstall.msi";
const wchar_t kZelmonFailRemoval[] = L"ZelmonUtility-1.2.9-failremoval.msi";
const wchar_t kZelmonNoStart[] = L"ZelmonUtility-1.2.10-nostart.msi";
const wchar_t kZelmonRestartRemoval[] = L"ZelmonUtility-1.2.9-restartremoval.msi";
const wchar_t kZelmonRestartInstall[] = L"ZelmonUtility-1.2.10-restartinstall.msi";
const wchar_t kZelmonNoVersion[] = L"ZelmonUtility-noversion.msi";
const wchar_t kZelmonVersion63[] = L"ZelmonUtility-version63.msi";
const wchar_t kZelmonVersion64[] = L"ZelmonUtility-version64.msi";
const wchar_t kZelmonOldX64[] = L"ZelmonUtility-1.2.9-x64.msi";
const wchar_t kZelmonNewX64[] = L"ZelmonUtility-1.2.10-x64.msi";
const wchar_t kZelmonFailInstallX64[] = L"ZelmonUtility-1.2.10-failinstall-x64.msi";
const wchar_t kZelmonOldVersion[] = L"1.2.9";
const wchar_t kZelmonNewVersion[] = L"1.2.10";
const wchar_t kZelmonServiceName[] = L"zelmsvc";
const wchar_t kZelmonKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc";
const wchar_t kZelmonSettingsKey[] = L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings";

namespace {

// Wine needs about two seconds for an install; Windows may need much longer.
const DWORD kMsiexecTimeoutMs = 180000;
const DWORD kServiceStopMs = 30000;
const DWORD kPollMs = 100;

std::wstring UninstallKey(const std::wstring& productCode)
{
    return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productCode;
}

const REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

bool KeyExists(const std::wstring& key, REGSAM view)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// The view that holds the product's Uninstall entry: that of the package's
// platform. The 64-bit one when there is none.
REGSAM UninstallView(const std::wstring& productCode)
{
    const std::wstring key = UninstallKey(productCode);
    return KeyExists(key, KEY_WOW64_32KEY) && !KeyExists(key, KEY_WOW64_64KEY) ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

bool ReadValue(const std::wstring& key, const std::wstring& name, REGSAM view, std::wstring* text, DWORD* type)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExW(handle, name.c_str(), nullptr, type, nullptr, &size);
    std::vector<BYTE> data(size + 2 * sizeof(wchar_t), 0);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(handle, name.c_str(), nullptr, type, data.data(), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS)
        return false;
    if (*type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        CopyMemory(&number, data.data(), sizeof(number));
        *text = std::to_wstring(number);
    } else {
        // The data may lack its terminating null; the buffer has two spare ones.
        *text = reinterpret_cast<const wchar_t*>(data.data());
    }
    return true;
}

bool WriteValue(const std::wstring& key, const std::wstring& name, REGSAM view, DWORD type, const BYTE* data,
                DWORD size, HKEY root = HKEY_LOCAL_MACHINE)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExW(handle, name.c_str(), 0, type, data, size) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

bool WriteString(const std::wstring& key, const std::wstring& name, REGSAM view, DWORD type, const std::wstring& value,
                 HKEY root = HKEY_LOCAL_MACHINE)
{
    return WriteValue(key, name, view, type, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), root);
}

bool DeleteKeyTree(const std::wstring& key, REGSAM view)
{
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0,
                                DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view, &handle);
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    if (status != ERROR_SUCCESS)
        return false;
    status = RegDeleteTreeW(handle, nullptr);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS && RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view, 0) == ERROR_SUCCESS;
}

DWORD RunInWindows(const std::wstring& commandLine)
{
    ChildRun run = RunChild(commandLine, std::wstring(), Environment(), kMsiexecTimeoutMs);
    if (!run.started)
        return kNotStarted;
    return run.timedOut ? kKilledExitCode : run.exitCode;
}

std::wstring SystemFolder()
{
    wchar_t path[MAX_PATH] = L"";
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

const wchar_t kRegeditDoubleKey[] = L"Software\\VantiroTestBed\\RegeditDouble";
const wchar_t kWineOverrides[] = L"Software\\Wine\\DllOverrides";
const wchar_t kMsiexecDoubleKey[] = L"Software\\VantiroTestBed\\MsiexecDouble";

std::wstring RegeditDoubleTarget()
{
    std::wstring folder = SystemFolder();
    return folder.empty() ? folder : folder + L"\\regedit.exe";
}

bool StopAndDeleteService(const std::wstring& serviceName)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return false;
    SC_HANDLE service = OpenServiceW(manager, serviceName.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    bool ok = service == nullptr && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    if (service != nullptr) {
        SERVICE_STATUS status = {};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        WaitForServiceState(serviceName, SERVICE_STOPPED, kServiceStopMs);
        ok = DeleteService(service) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return ok;
}

}  // namespace

std::wstring PackagePath(const std::wstring& name)
{
    return TestProgramFolder() + L"packages\\" + name;
}

std::wstring DefaultZelmonFolder()
{
    wchar_t path[MAX_PATH] = L"";
    DWORD length = ExpandEnvironmentStringsW(L"%ProgramFiles%", path, MAX_PATH);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(path) + L"\\VANTIRO\\ZELMON\\";
}

DWORD InstallPackage(const std::wstring& msiPath, const std::wstring& properties)
{
    return RunInWindows(L"msiexec.exe /i " + QuoteArgument(msiPath) + L" /qn" +
                        (properties.empty() ? L"" : L" " + properties));
}

DWORD UninstallProduct(const std::wstring& productCode, const std::wstring& properties)
{
    return RunInWindows(L"msiexec.exe /x " + productCode + L" /qn" + (properties.empty() ? L"" : L" " + properties));
}

DWORD RunUninstallString(const std::wstring& productCode)
{
    UninstallEntry entry = ReadUninstallEntry(productCode);
    return entry.uninstallString.empty() ? kNotStarted : RunInWindows(entry.uninstallString + L" /qn");
}

bool RemoveZelmon(const std::vector<std::wstring>& folders)
{
    if (IsProductInstalled(kZelmonProductCode))
        UninstallProduct(kZelmonProductCode, L"FORCEREMOVAL=1");
    bool ok = !IsProductInstalled(kZelmonProductCode);
    ok = StopAndDeleteService(kZelmonServiceName) && ok;
    for (REGSAM view : kViews) {
        ok = DeleteKeyTree(L"SOFTWARE\\VANTIRO", view) && ok;
        ok = DeleteKeyTree(UninstallKey(kZelmonProductCode), view) && ok;
    }
    for (const auto& folder : folders) {
        ok = DeleteTree(folder.size() > 3 && folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder) &&
             ok;
    }
    return ok;
}

bool IsProductInstalled(const std::wstring& productCode)
{
    using QueryProductState = INSTALLSTATE(WINAPI*)(LPCWSTR);
    std::wstring folder = SystemFolder();
    HMODULE msi = folder.empty() ? nullptr : LoadLibraryExW((folder + L"\\msi.dll").c_str(), nullptr, 0);
    FARPROC address = msi == nullptr ? nullptr : GetProcAddress(msi, "MsiQueryProductStateW");
    auto query = reinterpret_cast<QueryProductState>(reinterpret_cast<void*>(address));
    bool installed = query != nullptr && query(productCode.c_str()) == INSTALLSTATE_DEFAULT;
    if (msi != nullptr)
        FreeLibrary(msi);
    return installed;
}

UninstallEntry ReadUninstallEntry(const std::wstring& productCode)
{
    UninstallEntry entry;
    std::wstring key = UninstallKey(productCode);
    REGSAM view = UninstallView(productCode);
    entry.exists = KeyExists(key, view);
    if (!entry.exists)
        return entry;
    DWORD type = REG_NONE;
    ReadValue(key, L"DisplayVersion", view, &entry.displayVersion, &type);
    ReadValue(key, L"UninstallString", view, &entry.uninstallString, &entry.uninstallStringType);
    return entry;
}

bool SetUninstallValue(const std::wstring& productCode, const std::wstring& name, const std::wstring& value, DWORD type)
{
    std::wstring key = UninstallKey(productCode);
    REGSAM view = UninstallView(productCode);
    if (type != REG_NONE)
        return WriteString(key, name, view, type, value);
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    LONG status = RegDeleteValueW(handle, name.c_str());
    RegCloseKey(handle);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::wstring InstallationDirectory(REGSAM view)
{
    std::wstring value;
    DWORD type = REG_NONE;
    return ReadValue(kZelmonKey, L"InstallationDirectory", view, &value, &type) ? value : std::wstring();
}

bool SetInstallationDirectory(const std::wstring& value, REGSAM view)
{
    return WriteString(kZelmonKey, L"InstallationDirectory", view, REG_SZ, value);
}

std::wstring ReadSetting(const std::wstring& name, bool* exists, REGSAM view)
{
    std::wstring value;
    DWORD type = REG_NONE;
    bool found = ReadValue(kZelmonSettingsKey, name, view, &value, &type);
    if (exists != nullptr)
        *exists = found;
    return value;
}

bool WriteSetting(const std::wstring& name, const std::wstring& value, REGSAM view)
{
    return WriteString(kZelmonSettingsKey, name, view, REG_SZ, value);
}

bool WriteSetting(const std::wstring& name, DWORD value, REGSAM view)
{
    return WriteValue(kZelmonSettingsKey, name, view, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

bool VantiroKeyExists(REGSAM view)
{
    return KeyExists(L"SOFTWARE\\VANTIRO", view);
}

bool UseRegeditDouble(const std::wstring& exportBehaviour, const std::wstring& importBehaviour)
{
    std::wstring target = RegeditDoubleTarget();
    // Wine runs its builtin regedit for any regedit.exe unless told to prefer
    // the file; only the global key reaches a program's own load order.
    return !target.empty() && CopyFileTo(TestProgramFolder() + L"doubles\\regedit.exe", target) &&
           WriteString(kWineOverrides, L"regedit.exe", 0, REG_SZ, L"native,builtin", HKEY_CURRENT_USER) &&
           WriteString(kRegeditDoubleKey, L"Export", 0, REG_SZ, exportBehaviour) &&
           WriteString(kRegeditDoubleKey, L"Import", 0, REG_SZ, importBehaviour);
}

bool StopUsingRegeditDouble()
{
    std::wstring target = RegeditDoubleTarget();
    bool ok = !target.empty() && (DeleteFileW(target.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kWineOverrides, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        LONG status = RegDeleteValueW(key, L"regedit.exe");
        ok = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && ok;
        RegCloseKey(key);
    }
    return DeleteKeyTree(kRegeditDoubleKey, 0) && ok;
}

bool UseMsiexecDouble(const std::wstring& removal, const std::wstring& install)
{
    const std::wstring target = SystemFolder() + L"\\msiexec.exe";
    const std::wstring saved = target + L".wine";
    bool kept = GetFileAttributesW(saved.c_str()) != INVALID_FILE_ATTRIBUTES || CopyFileTo(target, saved);
    return kept && CopyFileTo(TestProgramFolder() + L"doubles\\msiexec.exe", target) &&
           WriteString(kWineOverrides, L"msiexec.exe", 0, REG_SZ, L"native,builtin", HKEY_CURRENT_USER) &&
           WriteString(kMsiexecDoubleKey, L"Remove", 0, REG_SZ, removal) &&
           WriteString(kMsiexecDoubleKey, L"Install", 0, REG_SZ, install) &&
           WriteString(kMsiexecDoubleKey, L"Calls", 0, REG_SZ, L"");
}

bool StopUsingMsiexecDouble()
{
    const std::wstring target = SystemFolder() + L"\\msiexec.exe";
    const std::wstring saved = target + L".wine";
    bool ok = GetFileAttributesW(saved.c_str()) == INVALID_FILE_ATTRIBUTES ||
              MoveFileExW(saved.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kWineOverrides, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        LONG status = RegDeleteValueW(key, L"msiexec.exe");
        ok = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && ok;
        RegCloseKey(key);
    }
    return DeleteKeyTree(kMsiexecDoubleKey, 0) && ok;
}

std::vector<std::wstring> ReadMsiexecDoubleCalls()
{
    std::vector<std::wstring> calls;
    std::wstring text;
    DWORD type = REG_NONE;
    if (!ReadValue(kMsiexecDoubleKey, L"Calls", 0, &text, &type))
        return calls;
    for (size_t begin = 0, end = 0; (end = text.find(L'\n', begin)) != std::wstring::npos; begin = end + 1)
        calls.push_back(text.substr(begin, end - begin));
    return calls;
}

DWORD ServiceState(const std::wstring& serviceName)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return 0;
    SC_HANDLE service = OpenServiceW(manager, serviceName.c_str(), SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    bool ok = service != nullptr && QueryServiceStatus(service, &status);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? status.dwCurrentState : 0;
}

bool IsServiceRunning(const std::wstring& serviceName)
{
    return ServiceState(serviceName) == SERVICE_RUNNING;
}

bool WaitForServiceState(const std::wstring& serviceName, DWORD state, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (ServiceState(serviceName) != state) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

size_t ServiceManagerCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    size_t count = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (CompareStringOrdinal(entry.szExeFile, -1, L"services.exe", -1, TRUE) == CSTR_EQUAL)
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

std::vector<std::wstring> ServiceLog(const std::wstring& folder)
{
    std::vector<std::wstring> lines;
    std::string bytes;
    if (!ReadFileBytes(folder + (!folder.empty() && folder.back() == L'\\' ? L"" : L"\\") + L"zelmsvc.log", &bytes))
        return lines;
    size_t begin = 0;
    for (size_t end = bytes.find("\r\n"); end != std::string::npos; end = bytes.find("\r\n", begin)) {
        std::string line = bytes.substr(begin, end - begin);
        lines.emplace_back(line.begin(), line.end());  // ASCII
        begin = end + 2;
    }
    return lines;
}

size_t ServiceStarts(const std::wstring& folder)
{
    size_t starts = 0;
    for (const auto& line : ServiceLog(folder)) {
        if (line.compare(0, 8, L"started ") == 0)
            ++starts;
    }
    return starts;
}

}  // namespace testbed
