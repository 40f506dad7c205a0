// The ZELMON packages and the test bed around them, driven by the real system
// programs in the order setup.exe runs them for an upgrade: when these fail,
// a scenario failure is the machine's fault, not setup.exe's.
#include <windows.h>

#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "testbed.h"
#include "utility_bed.h"

using namespace testbed;

namespace {

const DWORD kCommandTimeoutMs = 120000;

DWORD RunCommand(const std::wstring& commandLine)
{
    ChildRun run = RunChild(commandLine, std::wstring(), Environment(), kCommandTimeoutMs);
    PrintLine(commandLine + L" -> " + std::to_wstring(run.exitCode) + L" in " + std::to_wstring(run.elapsedMs) +
              L" ms");
    return run.started && !run.timedOut ? run.exitCode : kNotStarted;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The Property table as setup.exe reads it; *found is false without the row.
std::wstring PackageProperty(const std::wstring& msiPath, const wchar_t* name, bool* found)
{
    *found = false;
    std::wstring value;
    MSIHANDLE database = 0;
    if (MsiOpenDatabaseW(msiPath.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS)
        return value;
    std::wstring query = std::wstring(L"SELECT `Value` FROM `Property` WHERE `Property`='") + name + L"'";
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    if (MsiDatabaseOpenViewW(database, query.c_str(), &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == 0 &&
        MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        wchar_t text[256] = L"";
        DWORD length = ARRAYSIZE(text);
        *found = MsiRecordGetStringW(record, 1, text, &length) == ERROR_SUCCESS;
        value = text;
        MsiCloseHandle(record);
    }
    if (view != 0)
        MsiCloseHandle(view);
    MsiCloseHandle(database);
    return value;
}

class UtilityBed : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(1u, ServiceManagerCount()) << "start the prefix without a second wineboot -i";
        ASSERT_TRUE(RemoveZelmon({DefaultZelmonFolder()}));
    }
    void TearDown() override
    {
        EXPECT_TRUE(RemoveZelmon({DefaultZelmonFolder()}));
    }
};

TEST_F(UtilityBed, UpgradeByTheSystemPrograms)
{
    ASSERT_EQ(0u, InstallPackage(PackagePath(kZelmonOld)));
    std::wstring folder = DefaultZelmonFolder();
    EXPECT_TRUE(IsProductInstalled(kZelmonProductCode));
    UninstallEntry entry = ReadUninstallEntry(kZelmonProductCode);
    EXPECT_EQ(kZelmonOldVersion, entry.displayVersion);
    EXPECT_EQ(std::wstring(L"MsiExec.exe /X") + kZelmonProductCode, entry.uninstallString);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), entry.uninstallStringType);
    EXPECT_EQ(folder, InstallationDirectory());
    EXPECT_TRUE(FileExists(folder + L"zelmsvc.exe"));
    EXPECT_TRUE(IsServiceRunning(kZelmonServiceName));
    EXPECT_EQ(1u, ServiceStarts(folder));
    EXPECT_EQ(L"mail.example.com", ReadSetting(L"MailServer"));
    ASSERT_TRUE(WriteSetting(L"MailServer", L"mail.vantiro.test"));

    std::wstring temp = MakeTempFolder(L"zrg");
    std::wstring saved = temp + L"\\TMPREGZSVC.ZRG";
    EXPECT_EQ(0u, RunCommand(L"Regedit /e \"" + saved +
                             L"\" \"HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings\""));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(saved, &bytes));
    std::wstring text = bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0
                            ? std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2)
                            : std::wstring();
    EXPECT_EQ(0u, text.find(L"Windows Registry Editor Version 5.00\r\n")) << "UTF-16LE with BOM expected";
    EXPECT_NE(std::wstring::npos, text.find(L"\"MailServer\"=\"mail.vantiro.test\"\r\n"));

    EXPECT_EQ(0u, RunUninstallString(kZelmonProductCode));
    EXPECT_FALSE(IsProductInstalled(kZelmonProductCode));
    EXPECT_FALSE(ReadUninstallEntry(kZelmonProductCode).exists);
    EXPECT_EQ(0u, ServiceState(kZelmonServiceName));
    EXPECT_EQ(L"", InstallationDirectory());
    bool exists = true;
    ReadSetting(L"MailServer", &exists);
    EXPECT_FALSE(exists);
    EXPECT_FALSE(FileExists(folder + L"zelmsvc.exe"));

    // The parent folder with its trailing backslash right before the quote.
    std::wstring parent = folder.substr(0, folder.size() - std::wstring(L"ZELMON\\").size());
    EXPECT_EQ(0u, RunCommand(L"msiexec.exe /i \"" + PackagePath(kZelmonNew) + L"\" /qn TARGETDIR=\"" + parent + L"\""));
    EXPECT_EQ(kZelmonNewVersion, ReadUninstallEntry(kZelmonProductCode).displayVersion);
    EXPECT_EQ(folder, InstallationDirectory());
    EXPECT_TRUE(IsServiceRunning(kZelmonServiceName));
    EXPECT_EQ(L"mail.example.com", ReadSetting(L"MailServer"));

    EXPECT_EQ(0u, RunCommand(L"Regedit /s \"" + saved + L"\""));
    EXPECT_EQ(L"mail.vantiro.test", ReadSetting(L"MailServer"));
    EXPECT_EQ(L"60", ReadSetting(L"PollInterval"));
    EXPECT_TRUE(DeleteTree(temp));

    EXPECT_EQ(0u, RunCommand(L"net stop zelmsvc"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kZelmonServiceName));
    EXPECT_EQ(0u, RunCommand(L"net start zelmsvc"));
    EXPECT_TRUE(IsServiceRunning(kZelmonServiceName));
    std::vector<std::wstring> log = ServiceLog(folder);
    ASSERT_EQ(5u, log.size());
    EXPECT_EQ(3u, ServiceStarts(folder));
    EXPECT_EQ(0u, log[0].find(L"started "));
    EXPECT_EQ(0u, log[1].find(L"stopped "));  // the old product's removal
    EXPECT_EQ(0u, log[2].find(L"started "));  // the new product's install
    EXPECT_EQ(0u, log[3].find(L"stopped "));  // net stop
    EXPECT_EQ(0u, log[4].find(L"started "));  // net start
}

TEST_F(UtilityBed, TargetDirPlacesTheFolder)
{
    std::wstring root = MakeTempFolder(L"zelmon target ");
    ASSERT_FALSE(root.empty());
    for (const std::wstring& target : {root + L"\\With Slash\\", root + L"\\No Slash"}) {
        std::wstring folder = target + (target.back() == L'\\' ? L"" : L"\\") + L"ZELMON\\";
        EXPECT_EQ(0u, InstallPackage(PackagePath(kZelmonOld), L"TARGETDIR=\"" + target + L"\""));
        EXPECT_TRUE(FileExists(folder + L"zelmsvc.exe")) << folder;
        EXPECT_EQ(folder, InstallationDirectory());
        EXPECT_TRUE(WaitForServiceState(kZelmonServiceName, SERVICE_RUNNING, 10000));
        EXPECT_EQ(1u, ServiceStarts(folder));
        EXPECT_EQ(0u, RunUninstallString(kZelmonProductCode));
        EXPECT_EQ(0u, ServiceState(kZelmonServiceName));
    }
    EXPECT_TRUE(DeleteTree(root));
}

TEST_F(UtilityBed, FailingPackages)
{
    EXPECT_EQ(1603u, InstallPackage(PackagePath(kZelmonFailInstall)));
    EXPECT_FALSE(IsProductInstalled(kZelmonProductCode));
    EXPECT_FALSE(ReadUninstallEntry(kZelmonProductCode).exists);
    EXPECT_EQ(0u, ServiceState(kZelmonServiceName));

    ASSERT_EQ(0u, InstallPackage(PackagePath(kZelmonFailRemoval)));
    EXPECT_EQ(1603u, RunUninstallString(kZelmonProductCode));
    EXPECT_TRUE(IsProductInstalled(kZelmonProductCode));
    EXPECT_EQ(kZelmonOldVersion, ReadUninstallEntry(kZelmonProductCode).displayVersion);
    EXPECT_TRUE(IsServiceRunning(kZelmonServiceName));
    EXPECT_EQ(0u, UninstallProduct(kZelmonProductCode, L"FORCEREMOVAL=1"));
    EXPECT_FALSE(IsProductInstalled(kZelmonProductCode));

    ASSERT_EQ(0u, InstallPackage(PackagePath(kZelmonOld)));
    ASSERT_TRUE(SetUninstallValue(kZelmonProductCode, L"UninstallString",
                                  L"MsiExec.exe /X{00000000-0000-0000-0000-000000000000}", REG_EXPAND_SZ));
    EXPECT_EQ(static_cast<DWORD>(ERROR_UNKNOWN_PRODUCT), RunUninstallString(kZelmonProductCode));
    EXPECT_TRUE(IsProductInstalled(kZelmonProductCode));
}

TEST(UtilityPackages, PropertyTable)
{
    bool found = false;
    for (const wchar_t* name : {kZelmonOld, kZelmonNew, kZelmonFailInstall, kZelmonFailRemoval, kZelmonNoVersion,
                                kZelmonVersion63, kZelmonVersion64}) {
        EXPECT_EQ(kZelmonProductCode, PackageProperty(PackagePath(name), L"ProductCode", &found)) << name;
        EXPECT_TRUE(found) << name;
    }
    EXPECT_EQ(kZelmonOldVersion, PackageProperty(PackagePath(kZelmonOld), L"ProductVersion", &found));
    EXPECT_EQ(kZelmonNewVersion, PackageProperty(PackagePath(kZelmonNew), L"ProductVersion", &found));
    EXPECT_EQ(L"", PackageProperty(PackagePath(kZelmonNoVersion), L"ProductVersion", &found));
    EXPECT_FALSE(found);
    EXPECT_EQ(63u, PackageProperty(PackagePath(kZelmonVersion63), L"ProductVersion", &found).size());
    EXPECT_EQ(64u, PackageProperty(PackagePath(kZelmonVersion64), L"ProductVersion", &found).size());
}

}  // namespace
