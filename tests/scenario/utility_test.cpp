#include <algorithm>
#include <string>
#include <vector>

#include "scenario.h"
#include "utility_bed.h"

namespace {

using testbed::Answer;
using testbed::Button;

const wchar_t kCodeQuery[] = L"SELECT Value FROM Property WHERE Property.Property='ProductCode'";
const wchar_t kVersionQuery[] = L"SELECT Value FROM Property WHERE Property.Property='ProductVersion'";

// The utility's package in the product folder, a controller with a current
// driver, and the machine's ZELMON removed again afterwards.
class Utility : public Scenario {
protected:
    void SetUp() override
    {
        Scenario::SetUp();
        ASSERT_EQ(1u, testbed::ServiceManagerCount());
        apps_ = Folder() + L"apps\\";
        ASSERT_TRUE(CreateDirectoryW(apps_.c_str(), NULL));
    }
    void TearDown() override
    {
        testbed::RemoveZelmon({apps_});
        Scenario::TearDown();
    }
    void PrepareProduct(const std::wstring& package)
    {
        ASSERT_TRUE(testbed::CopyFileTo(testbed::PackagePath(package), ProductFolder() + package));
        WriteSetupFile({AddCurrentController()}, "Debug=1\r\nMSI=" + Narrow(package) + "\r\n");
    }
    // The old version, installed by the Windows Installer into apps_.
    void InstallOld(const std::wstring& package)
    {
        ASSERT_EQ(0u, testbed::InstallPackage(testbed::PackagePath(package), L"TARGETDIR=\"" + apps_ + L"\""));
        ASSERT_EQ(apps_ + L"ZELMON\\", testbed::InstallationDirectory());
    }
    // The messages from the first equal to first up to and including last.
    std::vector<std::wstring> LogBetween(const std::wstring& first, const std::wstring& last) const
    {
        std::vector<std::wstring> log = Log();
        std::vector<std::wstring> part;
        bool inside = false;
        for (const std::wstring& line : log) {
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
    bool Logged(const std::wstring& line) const
    {
        std::vector<std::wstring> log = Log();
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    std::wstring SettingsFile() const
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        std::wstring path(temp);
        return path + (path.back() == L'\\' ? L"" : L"\\") + L"TMPREGZSVC.ZRG";
    }

    std::wstring apps_;
};

TEST_F(Utility, FirstInstallationInstallsThePackageSilently)
{
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), PlainBox(kCompleted)});
    EXPECT_TRUE(testbed::IsProductInstalled(testbed::kZelmonProductCode));
    EXPECT_EQ(testbed::kZelmonNewVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((testbed::InstallationDirectory() + L"zelmsvc.exe").c_str()));

    const std::vector<std::wstring> expected = {
        std::wstring(L"Query result(") + kCodeQuery + L")=" + testbed::kZelmonProductCode,
        std::wstring(L"Query result(") + kVersionQuery + L")=" + testbed::kZelmonNewVersion,
        std::wstring(L"Utility is not installed.(") + testbed::kZelmonProductCode + L") err=1605",
        L"InstallUtil() is called",
        L"CreateProcess succeeded cmd=msiexec.exe /I \"" + ProductFolder() + testbed::kZelmonNew + L"\" /qn",
        L"Process terminated err=0",
        L"Return from InstallUtil()",
    };
    EXPECT_EQ(expected, LogBetween(expected.front(), expected.back()));
}

TEST_F(Utility, SameVersionInstalledIsLeftAsItIs)
{
    InstallOld(testbed::kZelmonNew);
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), PlainBox(kAlreadyInstalled)});
    EXPECT_TRUE(Logged(L"Check version.New=1.2.10.0 Current=1.2.10.0"));
    EXPECT_FALSE(Logged(L"UninstallUtil() is called"));
    EXPECT_FALSE(Logged(L"InstallUtil() is called"));
    EXPECT_EQ(L"Driver installed(No reboot)", Log().back());
}

TEST_F(Utility, UpgradeKeepsTheFolderAndTheAdministratorsSettings)
{
    InstallOld(testbed::kZelmonOld);
    ASSERT_TRUE(testbed::WriteSetting(L"MailServer", L"mail.vantiro.test"));
    const size_t startsBefore = testbed::ServiceStarts(apps_ + L"ZELMON\\");
    PrepareProduct(testbed::kZelmonNew);

    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), PlainBox(kCompleted)});
    EXPECT_EQ(testbed::kZelmonNewVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_EQ(apps_ + L"ZELMON\\", testbed::InstallationDirectory());
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer"));
    EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
    // Started by the new installation, then stopped and started again.
    EXPECT_GE(testbed::ServiceStarts(apps_ + L"ZELMON\\"), startsBefore + 2);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(SettingsFile().c_str()));

    const std::wstring apps = apps_.substr(0, apps_.size() - 1);
    const std::vector<std::wstring> expected = {
        L"UninstallUtil() is called",
        L"Prev folder(" + apps_ + L"ZELMON\\)",
        L"Prev installed folder = " + apps,
        L"CreateProcess succeeded cmd=Regedit /e \"" + SettingsFile() +
            L"\" HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings",
        L"Process terminated err=0",
        std::wstring(L"Executed uninstall cmd(MsiExec.exe /X") + testbed::kZelmonProductCode + L" /qn)",
        L"Uninstall process has completed",
        L"Return from UninstallUtil()",
        L"InstallUtil() is called",
        L"CreateProcess succeeded cmd=msiexec.exe /I \"" + ProductFolder() + testbed::kZelmonNew + L"\" TARGETDIR=\"" +
            apps + L"\" /qn",
        L"Process terminated err=0",
        L"CreateProcess succeeded cmd=Regedit /s \"" + SettingsFile() + L"\"",
        L"Process terminated err=0",
        L"CreateProcess succeeded cmd=net stop zelmsvc",
        L"Process terminated err=0",
        L"CreateProcess succeeded cmd=net start zelmsvc",
        L"Process terminated err=0",
        L"Return from InstallUtil()",
    };
    EXPECT_EQ(expected, LogBetween(expected.front(), expected.back()));
}

TEST_F(Utility, FailedRemovalEndsTheRunWithItsNumber)
{
    InstallOld(testbed::kZelmonFailRemoval);
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(1603u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), ErrorBox(L"Installation operation failed.(1603)")});
    EXPECT_TRUE(Logged(L"Uninstall process has failed.err = 1603"));
    EXPECT_FALSE(Logged(L"InstallUtil() is called"));
    EXPECT_EQ(L"Return from UninstallUtil()", Log().back()) << "the driver pass does not run";

    ASSERT_TRUE(testbed::SetUninstallValue(testbed::kZelmonProductCode, L"UninstallString",
                                           Folder() + L"uninstall-missing.exe"));
    result = RunSetup(L"/QN", {Answer(Button::Ok)});
    EXPECT_EQ(2u, result.run.exitCode);
    ExpectBoxes(result, {ErrorBox(L"Installation operation failed.(2)")});
    EXPECT_TRUE(Logged(L"Failed to execute uninstall cmd(" + Folder() + L"uninstall-missing.exe /qn) err=2"));
}

TEST_F(Utility, FailedInstallationAfterRemovalStillRestoresTheSettings)
{
    InstallOld(testbed::kZelmonOld);
    ASSERT_TRUE(testbed::WriteSetting(L"MailServer", L"mail.vantiro.test"));
    PrepareProduct(testbed::kZelmonFailInstall);
    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(1603u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), ErrorBox(L"Installation operation failed.(1603)")});
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer"));
    EXPECT_TRUE(Logged(L"CreateProcess succeeded cmd=Regedit /s \"" + SettingsFile() + L"\""));
    EXPECT_TRUE(Logged(L"CreateProcess succeeded cmd=net stop zelmsvc"));
    EXPECT_EQ(L"Return from InstallUtil()", Log().back());
}

TEST_F(Utility, UnreadablePackageSkipsTheUtilityStage)
{
    struct Case {
        const wchar_t* package;
        std::wstring failure;
    };
    const Case cases[] = {
        {testbed::kZelmonNoVersion, L"MsiViewFetch err=259"},
        {testbed::kZelmonVersion64, L"MsiRecordGetString err=234"},
    };
    for (const Case& c : cases) {
        PrepareProduct(c.package);
        testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
        EXPECT_EQ(0u, result.run.exitCode) << testing::PrintToString(c.package);
        ExpectBoxes(result, {YesNoBox(kConfirmUtility), PlainBox(kAlreadyInstalled)});
        EXPECT_TRUE(Logged(c.failure)) << testing::PrintToString(c.package);
        EXPECT_FALSE(Logged(L"InstallUtil() is called"));
        EXPECT_FALSE(testbed::IsProductInstalled(testbed::kZelmonProductCode));
        DeleteFileW((ProductFolder() + L"devupd.log").c_str());
    }
}

}  // namespace

namespace {

TEST_F(Utility, SettingsSurviveATemporaryFolderWithBlanks)
{
    const std::wstring temp = Folder() + L"temp dir";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), NULL));
    InstallOld(testbed::kZelmonOld);
    ASSERT_TRUE(testbed::WriteSetting(L"MailServer", L"mail.vantiro.test"));
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunSetup(L"/QN", {}, {{L"TEMP", temp}, {L"TMP", temp}}, ProductFolder());
    EXPECT_EQ(0u, result.run.exitCode);
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer"));
    EXPECT_TRUE(Logged(L"CreateProcess succeeded cmd=Regedit /s \"" + temp + L"\\TMPREGZSVC.ZRG\""));
}

TEST_F(Utility, ASettingsFileLeftByAnEarlierRunIsNeverImported)
{
    InstallOld(testbed::kZelmonOld);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, testbed::kZelmonSettingsKey));
    const std::string stale =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings]\r\n\"MailServer\"=\"stale\"\r\n";
    ASSERT_TRUE(testbed::WriteFileBytes(SettingsFile(), stale));
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunSetup(L"/QN", {});
    EXPECT_EQ(0u, result.run.exitCode);
    EXPECT_NE(L"stale", testbed::ReadSetting(L"MailServer"));
}

}  // namespace
