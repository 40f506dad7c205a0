#include "internal.h"

#include <algorithm>

namespace testbed {
namespace {

std::vector<std::wstring> CurrentVariables()
{
    std::vector<std::wstring> variables;
    wchar_t* block = GetEnvironmentStringsW();
    if (block == nullptr)
        return variables;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        variables.emplace_back(entry);
    }
    FreeEnvironmentStringsW(block);
    return variables;
}

// Per-drive entries such as "=C:=C:\dir" carry their leading '=' in the name.
std::wstring NameOf(const std::wstring& entry)
{
    return entry.substr(0, entry.find(L'=', 1));
}

int CompareNames(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE);
}

}  // namespace

std::wstring BuildEnvironmentBlock(const Environment& overrides)
{
    std::vector<std::wstring> variables = CurrentVariables();
    for (const auto& [name, value] : overrides) {
        variables.erase(std::remove_if(variables.begin(), variables.end(),
                                       [&name = name](const std::wstring& entry) {
                                           return CompareNames(NameOf(entry), name) == CSTR_EQUAL;
                                       }),
                        variables.end());
        variables.push_back(name + L"=" + value);
    }
    // Windows expects the block sorted by name, case-insensitively.
    std::sort(variables.begin(), variables.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareNames(NameOf(a), NameOf(b)) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const auto& entry : variables) {
        block += entry;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

bool StartChild(const std::wstring& commandLine, const std::wstring& currentDir, const Environment& env,
                PROCESS_INFORMATION* info, DWORD* error, const Launch& launch)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // lpDesktop is not const in the SDK's declaration.
    std::wstring desktop = launch.desktop;
    startup.lpDesktop = desktop.empty() ? nullptr : &desktop[0];
    std::wstring block = BuildEnvironmentBlock(env);
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
    command.push_back(L'\0');
    *info = {};
    const wchar_t* application = launch.applicationName.empty() ? nullptr : launch.applicationName.c_str();
    bool ok = CreateProcessW(application, command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                             &block[0], currentDir.empty() ? nullptr : currentDir.c_str(), &startup, info) != FALSE;
    *error = ok ? ERROR_SUCCESS : GetLastError();
    if (ok)
        CloseHandle(info->hThread);
    info->hThread = nullptr;
    return ok;
}

void FinishChild(HANDLE process, DWORD startTick, ChildRun* run)
{
    if (run->timedOut) {
        TerminateProcess(process, kKilledExitCode);
        WaitForSingleObject(process, kKillWaitMs);
    }
    GetExitCodeProcess(process, &run->exitCode);
    run->elapsedMs = GetTickCount() - startTick;
    CloseHandle(process);
}

ChildRun RunChild(const std::wstring& commandLine, const std::wstring& currentDir, const Environment& env,
                  DWORD timeoutMs)
{
    ChildRun run;
    PROCESS_INFORMATION info = {};
    DWORD startTick = GetTickCount();
    run.started = StartChild(commandLine, currentDir, env, &info, &run.startError);
    if (!run.started)
        return run;
    run.timedOut = WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0;
    FinishChild(info.hProcess, startTick, &run);
    return run;
}

std::wstring QuoteArgument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only in front of a quote.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted.push_back(c);
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

InvisibleDesktop::InvisibleDesktop()
{
    static int counter = 0;
    const std::wstring station =
        L"testbed" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
    // A new station is never the visible one (WinSta0).
    station_ = CreateWindowStationW(station.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    if (station_ == nullptr)
        return;
    // CreateDesktopW makes the desktop in the station the process is attached to.
    HWINSTA ours = GetProcessWindowStation();
    if (!SetProcessWindowStation(station_))
        return;
    desktop_ = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(ours);
    if (desktop_ != nullptr)
        name_ = station + L"\\Default";
}

InvisibleDesktop::~InvisibleDesktop()
{
    if (desktop_ != nullptr)
        CloseDesktop(desktop_);
    if (station_ != nullptr)
        CloseWindowStation(station_);
}

bool InvisibleDesktop::StationVisible() const
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return station_ != nullptr &&
           GetUserObjectInformationW(station_, UOI_FLAGS, &flags, sizeof(flags), &needed) != FALSE &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace testbed
