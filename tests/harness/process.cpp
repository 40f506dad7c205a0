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
                PROCESS_INFORMATION* info, DWORD* error)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring block = BuildEnvironmentBlock(env);
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
    command.push_back(L'\0');
    *info = {};
    bool ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                             currentDir.empty() ? nullptr : currentDir.c_str(), &startup, info) != FALSE;
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

}  // namespace testbed
