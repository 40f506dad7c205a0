#include "utility_scenario.h"

#include <algorithm>

#include "utility_bed.h"

namespace {

const wchar_t kSettingsFolderPrefix[] = L"ZELMON-";

// The random part of the settings folder's name, as "*".
std::wstring MaskSettingsFolder(const std::wstring& line)
{
    size_t at = line.find(kSettingsFolderPrefix);
    const size_t name = at + wcslen(kSettingsFolderPrefix);
    if (at == std::wstring::npos || line.size() < name + 16) {
        return line;
    }
    return line.substr(0, name) + L"*" + line.substr(name + 16);
}

}  // namespace

std::wstring SystemFolder()
{
    wchar_t path[MAX_PATH] = L"";
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path);
}

std::wstring WindowsFolder()
{
    wchar_t path[MAX_PATH] = L"";
    UINT length = GetSystemWindowsDirectoryW(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path);
}

void Utility::SetUp()
{
    Scenario::SetUp();
    ASSERT_EQ(1u, testbed::ServiceManagerCount());
    apps_ = Folder() + L"apps\\";
    temp_ = Folder() + L"temp\\";
    ASSERT_TRUE(CreateDirectoryW(apps_.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), NULL));
}

void Utility::TearDown()
{
    testbed::StopUsingRegeditDouble();
    testbed::RemoveZelmon({apps_});
    Scenario::TearDown();
}

void Utility::PrepareProduct(const std::wstring& package)
{
    ASSERT_TRUE(testbed::CopyFileTo(testbed::PackagePath(package), ProductFolder() + package));
    NamePackage(package);
}

void Utility::NamePackage(const std::wstring& package)
{
    if (controller_.service.empty()) {
        controller_ = AddCurrentController();
    }
    WriteSetupFile({controller_}, "Debug=1\r\nMSI=" + Narrow(package) + "\r\n");
}

void Utility::InstallOld(const std::wstring& package, REGSAM view)
{
    ASSERT_EQ(0u, testbed::InstallPackage(testbed::PackagePath(package), L"TARGETDIR=\"" + apps_ + L"\""));
    ASSERT_EQ(apps_ + L"ZELMON\\", testbed::InstallationDirectory(view));
    ASSERT_TRUE(testbed::WriteSetting(L"MailServer", L"mail.vantiro.test", view));
}

testbed::Environment Utility::TempEnvironment() const
{
    const std::wstring temp = temp_.substr(0, temp_.size() - 1);
    return {{L"TEMP", temp}, {L"TMP", temp}};
}

testbed::RunResult Utility::RunUpgrade(const std::wstring& arguments, const std::vector<testbed::Answer>& answers,
                                       const std::wstring& currentDir)
{
    return RunSetup(arguments, answers, TempEnvironment(), currentDir);
}

std::vector<std::wstring> Utility::Messages() const
{
    std::vector<std::wstring> log = Log();
    std::transform(log.begin(), log.end(), log.begin(), MaskSettingsFolder);
    return log;
}

std::vector<std::wstring> Utility::LogBetween(const std::wstring& first, const std::wstring& last) const
{
    std::vector<std::wstring> part;
    bool inside = false;
    for (const std::wstring& line : Messages()) {
        inside = inside || line == first;
        if (inside) {
            part.push_back(line);
        }
        if (inside && line == last) {
            break;
        }
    }
    return part;
}

bool Utility::Logged(const std::wstring& line) const
{
    std::vector<std::wstring> log = Messages();
    return std::find(log.begin(), log.end(), line) != log.end();
}

std::vector<std::wstring> Utility::SettingsFolders() const
{
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((temp_ + kSettingsFolderPrefix + L"*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        folders.push_back(temp_ + data.cFileName);
    }
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
    }
    return folders;
}

std::wstring Utility::SettingsFile() const
{
    return temp_ + kSettingsFolderPrefix + L"*\\TMPREGZSVC.ZRG";
}

std::wstring Utility::Regedit() const
{
    return WindowsFolder() + L"\\regedit.exe";
}

std::wstring Utility::Net() const
{
    return SystemFolder() + L"\\net.exe";
}

void Utility::ExpectOldVersionUntouched(REGSAM view)
{
    EXPECT_EQ(testbed::kZelmonOldVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer", nullptr, view));
    EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
}

void Utility::ExpectUpgraded(REGSAM view)
{
    EXPECT_EQ(testbed::kZelmonNewVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer", nullptr, view));
    EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
    EXPECT_EQ(std::vector<std::wstring>(), SettingsFolders());
}
