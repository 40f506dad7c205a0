// Stands in for msiexec.exe inside the test prefix, for what Wine's msiexec
// never answers: 1641, Windows restarting by itself once the package is done,
// and 1618, another installation running, which Wine's Windows Installer,
// without an execution mutex, never says.
// The test bed puts it into the system folder, from where setup.exe runs
// msiexec.exe. Each command goes to Windows Installer (msi.dll) as Wine's own
// msiexec hands it on: /I <package> or /X <product code>, the PROPERTY=value
// arguments, /qn; that msiexec cannot be run from here, since this file takes
// its place. HKLM\Software\VantiroTestBed\MsiexecDouble says what to answer after it:
//   Remove   REG_SZ  for /X: "1641" answers 1641 when the removal succeeded
//   Install  REG_SZ  for /I: the same for the installation
//            "1618 <n>" answers 1618 without doing anything to the next n
//            such commands ("1618" alone: to every one)
//   Calls    REG_SZ  every call appends "<current folder>\t<command line>\n"
#include <windows.h>

#include <msi.h>
#include <shellapi.h>

#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "hand_on.h"

namespace {

const wchar_t kConfigKey[] = L"Software\\VantiroTestBed\\MsiexecDouble";

std::wstring ReadConfig(const wchar_t* name)
{
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::wstring();
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kConfigKey, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) !=
        ERROR_SUCCESS)
        return std::wstring();
    return text.data();
}

void RecordCall()
{
    wchar_t folder[MAX_PATH] = L"";
    DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    std::wstring calls =
        ReadConfig(L"Calls") + (length > 0 && length < MAX_PATH ? folder : L"?") + L"\t" + GetCommandLineW() + L"\n";
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kConfigKey, L"Calls", REG_SZ, calls.c_str(),
                    static_cast<DWORD>((calls.size() + 1) * sizeof(wchar_t)));
}

// PROPERTY=value arguments, quoted again for Windows Installer; "/I" or "/X"
// and the package or product code, attached or next.
DWORD RunWindowsInstaller(const wchar_t* arguments)
{
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(arguments, &count);
    if (argv == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::wstring target, properties;
    bool removing = false;
    for (int i = 0; i < count; ++i) {
        std::wstring argument = argv[i];
        const wchar_t* equals = wcschr(argv[i], L'=');
        if (argument.size() >= 2 && (argument[0] == L'/' || argument[0] == L'-') &&
            wcschr(L"IiXx", argument[1]) != nullptr) {
            removing = argument[1] == L'X' || argument[1] == L'x';
            target = argument.size() > 2 ? argument.substr(2) : (i + 1 < count ? argv[++i] : L"");
        } else if (equals != nullptr) {
            properties += (properties.empty() ? L"" : L" ") + argument.substr(0, equals - argv[i]) + L"=\"" +
                          std::wstring(equals + 1) + L"\"";
        }
    }
    LocalFree(argv);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    if (removing)
        return MsiConfigureProductExW(target.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT, properties.c_str());
    return MsiInstallProductW(target.c_str(), properties.c_str());
}

// "1618 <n>" counts down to "1618 0", which answers no more.
bool AnswerBusy(const wchar_t* name)
{
    std::wstring answer = ReadConfig(name);
    if (answer.compare(0, 4, L"1618") != 0)
        return false;
    if (answer.size() == 4)
        return true;
    int left = _wtoi(answer.c_str() + 5);
    std::wstring next = L"1618 " + std::to_wstring(left > 0 ? left - 1 : 0);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kConfigKey, name, REG_SZ, next.c_str(),
                    static_cast<DWORD>((next.size() + 1) * sizeof(wchar_t)));
    return left > 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    RecordCall();
    const wchar_t* arguments = OwnArguments();
    const bool removing =
        (arguments[0] == L'/' || arguments[0] == L'-') && (arguments[1] == L'x' || arguments[1] == L'X');
    if (AnswerBusy(removing ? L"Remove" : L"Install"))
        return ERROR_INSTALL_ALREADY_RUNNING;
    DWORD exitCode = RunWindowsInstaller(arguments);
    bool restarting = ReadConfig(removing ? L"Remove" : L"Install") == L"1641";
    if (restarting && (exitCode == ERROR_SUCCESS || exitCode == ERROR_SUCCESS_REBOOT_REQUIRED))
        return ERROR_SUCCESS_REBOOT_INITIATED;
    return static_cast<int>(exitCode);
}
