#include "utility_bed.h"

#include <msi.h>

#include "internal.h"

namespace testbed {
namespace {

// Wine needs about two seconds for an install; Windows may need much longer.
const DWORD kMsiexecTimeoutMs = 180000;
const DWORD kNotStarted = 0xFFFFFFFF;
const wchar_t kVantiroKey[] = L"SOFTWARE\\VANTIRO";
const wchar_t kRegeditDoubleKey[] = L"Software\\VantiroTestBed\\RegeditDouble";
const wchar_t kWineOverrides[] = L"Software\\Wine\\DllOverrides";
const wchar_t kMsiexecDoubleKey[] = L"Software\\VantiroTestBed\\MsiexecDouble";

std::wstring UninstallKey(const std::wstring& productCode)
{
    return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productCode;
}

// The 32-bit view when only it holds the entry, else the 64-bit one.
REGSAM UninstallView(const std::wstring& productCode)
{
    const std::wstring key = UninstallKey(productCode);
    return KeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY) && !KeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY)
               ? KEY_WOW64_32KEY
               : KEY_WOW64_64KEY;
}

DWORD RunInWindows(const std::wstring& commandLine)
{
    ChildRun run = RunWithRobot(commandLine, std::wstring(), Environment(), {}, kMsiexecTimeoutMs).run;
    return run.started ? run.exitCode : kNotStarted;
}

DWORD ServiceState(const std::wstring& serviceName)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager == nullptr ? nullptr : OpenServiceW(manager, serviceName.c_str(), SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    bool ok = service != nullptr && QueryServiceStatus(service, &status);
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    return ok ? status.dwCurrentState : 0;
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
        for (DWORD start = GetTickCount();
             ServiceState(serviceName) != SERVICE_STOPPED && GetTickCount() - start < 30000;)
            Sleep(100);
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

DWORD InstallPackage(const std::wstring& msiPath, const std::wstring& properties)
{
    return RunInWindows(L"msiexec.exe /i " + QuoteArgument(msiPath) + L" /qn" +
                        (properties.empty() ? L"" : L" " + properties));
}

bool RemoveZelmon(const std::vector<std::wstring>& folders)
{
    if (MsiQueryProductStateW(kZelmonProductCode) == INSTALLSTATE_DEFAULT)
        RunInWindows(std::wstring(L"msiexec.exe /x ") + kZelmonProductCode + L" /qn FORCEREMOVAL=1");
    bool ok = MsiQueryProductStateW(kZelmonProductCode) != INSTALLSTATE_DEFAULT;
    ok = StopAndDeleteService(kZelmonDependentName) && ok;
    ok = StopAndDeleteService(kZelmonServiceName) && ok;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        ok = DeleteRegTree(HKEY_LOCAL_MACHINE, kVantiroKey, view) && ok;
        ok = DeleteRegTree(HKEY_LOCAL_MACHINE, UninstallKey(kZelmonProductCode), view) && ok;
    }
    for (const auto& folder : folders) {
        ok = DeleteTree(folder.size() > 3 && folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder) &&
             ok;
    }
    return ok;
}

UninstallEntry ReadUninstallEntry(const std::wstring& productCode)
{
    UninstallEntry entry;
    const std::wstring key = UninstallKey(productCode);
    const REGSAM view = UninstallView(productCode);
    entry.exists = KeyExists(HKEY_LOCAL_MACHINE, key, view);
    if (entry.exists) {
        ReadRegValue(HKEY_LOCAL_MACHINE, key, L"DisplayVersion", &entry.displayVersion, nullptr, view);
        ReadRegValue(HKEY_LOCAL_MACHINE, key, L"UninstallString", &entry.uninstallString, &entry.uninstallStringType,
                     view);
    }
    return entry;
}

bool SetUninstallValue(const std::wstring& productCode, const std::wstring& name, const std::wstring& value, DWORD type)
{
    const std::wstring key = UninstallKey(productCode);
    const REGSAM view = UninstallView(productCode);
    return type == REG_NONE ? DeleteRegValue(HKEY_LOCAL_MACHINE, key, name, view)
                            : WriteRegString(HKEY_LOCAL_MACHINE, key, name, value, type, view);
}

std::wstring InstallationDirectory(REGSAM view)
{
    std::wstring value;
    ReadRegValue(HKEY_LOCAL_MACHINE, kZelmonKey, L"InstallationDirectory", &value, nullptr, view);
    return value;
}

bool SetInstallationDirectory(const std::wstring& value, REGSAM view)
{
    return WriteRegString(HKEY_LOCAL_MACHINE, kZelmonKey, L"InstallationDirectory", value, REG_SZ, view);
}

std::wstring ReadSetting(const std::wstring& name, bool* exists, REGSAM view)
{
    std::wstring value;
    bool found = ReadRegValue(HKEY_LOCAL_MACHINE, kZelmonSettingsKey, name, &value, nullptr, view);
    if (exists != nullptr)
        *exists = found;
    return value;
}

bool WriteSetting(const std::wstring& name, const std::wstring& value, REGSAM view)
{
    return WriteRegString(HKEY_LOCAL_MACHINE, kZelmonSettingsKey, name, value, REG_SZ, view);
}

bool ZelmonKeyExists(REGSAM view)
{
    return KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VANTIRO\\ZELMON", view);
}

bool UseRegeditDouble(const std::wstring& exportBehaviour, const std::wstring& importBehaviour)
{
    // Wine runs its builtin for any regedit.exe unless told to prefer the
    // file; only the global key reaches a program's own load order.
    return CopyFileTo(TestProgramFolder() + L"doubles\\regedit.exe", SystemFolder() + L"\\regedit.exe") &&
           WriteRegString(HKEY_CURRENT_USER, kWineOverrides, L"regedit.exe", L"native,builtin") &&
           WriteRegString(HKEY_LOCAL_MACHINE, kRegeditDoubleKey, L"Export", exportBehaviour) &&
           WriteRegString(HKEY_LOCAL_MACHINE, kRegeditDoubleKey, L"Import", importBehaviour);
}

bool StopUsingRegeditDouble()
{
    bool ok = DeleteTree(SystemFolder() + L"\\regedit.exe");
    ok = DeleteRegValue(HKEY_CURRENT_USER, kWineOverrides, L"regedit.exe") && ok;
    return DeleteRegTree(HKEY_LOCAL_MACHINE, kRegeditDoubleKey) && ok;
}

bool ReplaceSystemProgram(const std::wstring& name, const std::wstring& replacement)
{
    const std::wstring target = SystemFolder() + L"\\" + name;
    const std::wstring saved = target + L".wine";
    bool kept = GetFileAttributesW(saved.c_str()) != INVALID_FILE_ATTRIBUTES || CopyFileTo(target, saved);
    return kept && CopyFileTo(replacement, target) &&
           WriteRegString(HKEY_CURRENT_USER, kWineOverrides, name, L"native,builtin");
}

bool RestoreSystemProgram(const std::wstring& name)
{
    const std::wstring target = SystemFolder() + L"\\" + name;
    const std::wstring saved = target + L".wine";
    bool ok = GetFileAttributesW(saved.c_str()) == INVALID_FILE_ATTRIBUTES ||
              MoveFileExW(saved.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    return DeleteRegValue(HKEY_CURRENT_USER, kWineOverrides, name) && ok;
}

bool UseMsiexecDouble(const std::wstring& removal, const std::wstring& install)
{
    return ReplaceSystemProgram(L"msiexec.exe", TestProgramFolder() + L"doubles\\msiexec.exe") &&
           WriteRegString(HKEY_LOCAL_MACHINE, kMsiexecDoubleKey, L"Remove", removal) &&
           WriteRegString(HKEY_LOCAL_MACHINE, kMsiexecDoubleKey, L"Install", install) &&
           WriteRegString(HKEY_LOCAL_MACHINE, kMsiexecDoubleKey, L"Calls", L"");
}

bool StopUsingMsiexecDouble()
{
    bool ok = RestoreSystemProgram(L"msiexec.exe");
    return DeleteRegTree(HKEY_LOCAL_MACHINE, kMsiexecDoubleKey) && ok;
}

bool StartDependentService(const std::wstring& zelmsvcExe, const std::wstring& folder)
{
    const std::wstring program = folder + kZelmonDependentName + L".exe";
    if (!CreateDirectoryW(folder.c_str(), nullptr) || !CopyFileTo(zelmsvcExe, program))
        return false;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr)
        return false;
    const std::wstring dependencies = std::wstring(kZelmonServiceName) + L'\0';
    SC_HANDLE service = CreateServiceW(manager, kZelmonDependentName, kZelmonDependentName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       QuoteArgument(program).c_str(), nullptr, nullptr, dependencies.c_str(), nullptr,
                                       nullptr);
    bool ok = service != nullptr && StartServiceW(service, 0, nullptr);
    for (DWORD start = GetTickCount(); ok && ServiceState(kZelmonDependentName) != SERVICE_RUNNING;) {
        ok = GetTickCount() - start < 30000;
        Sleep(100);
    }
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok;
}

std::vector<std::wstring> ReadMsiexecDoubleCalls()
{
    std::vector<std::wstring> calls;
    std::wstring text;
    if (!ReadRegValue(HKEY_LOCAL_MACHINE, kMsiexecDoubleKey, L"Calls", &text))
        return calls;
    for (size_t begin = 0, end = 0; (end = text.find(L'\n', begin)) != std::wstring::npos; begin = end + 1)
        calls.push_back(text.substr(begin, end - begin));
    return calls;
}

std::wstring ReadRunRecord(const std::wstring& name)
{
    std::wstring value;
    if (!ReadRegValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VANTIRO\\RAID Setup", name, &value, nullptr, KEY_WOW64_64KEY))
        return L"(none)";
    return value;
}

bool IsServiceRunning(const std::wstring& serviceName)
{
    return ServiceState(serviceName) == SERVICE_RUNNING;
}

size_t ServiceStarts(const std::wstring& folder)
{
    std::string log;
    ReadFileBytes(folder + (!folder.empty() && folder.back() == L'\\' ? L"" : L"\\") + L"zelmsvc.log", &log);
    size_t starts = log.compare(0, 8, "started ") == 0 ? 1 : 0;
    for (size_t at = log.find("\r\nstarted "); at != std::string::npos; at = log.find("\r\nstarted ", at + 2))
        ++starts;
    return starts;
}

}  // namespace testbed
