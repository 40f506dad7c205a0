#include <string>
#include <vector>

#include "utility_bed.h"
#include "utility_scenario.h"

namespace {

using testbed::Answer;
using testbed::Button;

const wchar_t kCodeQuery[] = L"SELECT Value FROM Property WHERE Property.Property='ProductCode'";
const wchar_t kVersionQuery[] = L"SELECT Value FROM Property WHERE Property.Property='ProductVersion'";
// What Wine's MsiOpenDatabaseW answers for a missing file and for one that is
// no package (Windows answers with other numbers).
const DWORD kPackageCannotOpen = 1627;

TEST_F(Utility, FirstInstallationInstallsThePackageSilently)
{
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunUpgrade(L"", {Answer(Button::Yes), Answer(Button::Ok)});
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
        L"CreateProcess succeeded cmd=" + SystemFolder() + L"\\msiexec.exe /I \"" + ProductFolder() +
            testbed::kZelmonNew + L"\" /qn",
        L"Process terminated err=0",
        L"Return from InstallUtil()",
    };
    EXPECT_EQ(expected, LogBetween(expected.front(), expected.back()));
}

TEST_F(Utility, SameVersionInstalledIsLeftAsItIs)
{
    InstallOld(testbed::kZelmonNew);
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunUpgrade(L"", {Answer(Button::Yes), Answer(Button::Ok)});
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
    const size_t startsBefore = testbed::ServiceStarts(apps_ + L"ZELMON\\");
    PrepareProduct(testbed::kZelmonNew);

    testbed::RunResult result = RunUpgrade(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), PlainBox(kCompleted)});
    ExpectUpgraded();
    EXPECT_EQ(apps_ + L"ZELMON\\", testbed::InstallationDirectory());
    // Started by the new installation, then stopped and started again.
    EXPECT_GE(testbed::ServiceStarts(apps_ + L"ZELMON\\"), startsBefore + 2);

    const std::wstring apps = apps_.substr(0, apps_.size() - 1);
    const std::vector<std::wstring> expected = {
        L"UninstallUtil() is called",
        L"Prev folder(" + apps_ + L"ZELMON\\)",
        L"Prev installed folder = " + apps,
        L"CreateProcess succeeded cmd=" + Regedit() + L" /e \"" + SettingsFile() +
            L"\" HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings",
        L"Process terminated err=0",
        L"Executed uninstall cmd(" + SystemFolder() + L"\\MsiExec.exe /X" + testbed::kZelmonProductCode + L" /qn)",
        L"Uninstall process has completed",
        L"Return from UninstallUtil()",
        L"InstallUtil() is called",
        L"CreateProcess succeeded cmd=" + SystemFolder() + L"\\msiexec.exe /I \"" + ProductFolder() +
            testbed::kZelmonNew + L"\" TARGETDIR=\"" + apps + L"\" /qn",
        L"Process terminated err=0",
        L"CreateProcess succeeded cmd=" + Regedit() + L" /s \"" + SettingsFile() + L"\"",
        L"Process terminated err=0",
        L"CreateProcess succeeded cmd=" + Net() + L" stop zelmsvc",
        L"Process terminated err=0",
        L"CreateProcess succeeded cmd=" + Net() + L" start zelmsvc",
        L"Process terminated err=0",
        L"Return from InstallUtil()",
    };
    EXPECT_EQ(expected, LogBetween(expected.front(), expected.back()));
}

// Programs dropped beside setup.exe (a download folder) or into the current
// folder under the names of Windows' own never run with administrator rights.
TEST_F(Utility, PlantedSystemProgramsNeverRun)
{
    const std::wstring current = Folder() + L"current\\";
    ASSERT_TRUE(CreateDirectoryW(current.c_str(), NULL));
    const wchar_t* const names[] = {L"msiexec.exe", L"regedit.exe", L"net.exe"};
    for (const std::wstring& folder : {ProductFolder(), current}) {
        for (const wchar_t* name : names) {
            ASSERT_TRUE(testbed::CopyFileTo(TestProgramFolder() + L"planted_program.exe", folder + name));
        }
    }
    InstallOld(testbed::kZelmonOld);
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunUpgrade(L"/QN", {}, current);
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectUpgraded();
    for (const std::wstring& folder : {ProductFolder(), current}) {
        for (const wchar_t* name : names) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + name + L".ran").c_str()))
                << testing::PrintToString(folder + name);
        }
    }
}

// The stored uninstall command: a program without a folder comes only from
// the system or Windows folder; an expandable command is expanded first.
TEST_F(Utility, UninstallCommandRunsOnlyAWindowsOrFullyNamedProgram)
{
    const std::wstring code = testbed::kZelmonProductCode;
    ASSERT_TRUE(testbed::CopyFileTo(TestProgramFolder() + L"planted_program.exe", ProductFolder() + L"uninst.exe"));
    struct Case {
        std::wstring command;
        DWORD type;
        DWORD exitCode;
    };
    const Case cases[] = {
        {L"%SystemRoot%\\system32\\msiexec.exe /X" + code, REG_EXPAND_SZ, 0},
        {L"uninst.exe /X" + code, REG_SZ, ERROR_BAD_PATHNAME},
        {L"product\\uninst.exe /X" + code, REG_SZ, ERROR_BAD_PATHNAME},
        {L"\"msiexec.exe /X" + code, REG_SZ, ERROR_BAD_PATHNAME},
    };
    PrepareProduct(testbed::kZelmonNew);
    for (const Case& c : cases) {
        InstallOld(testbed::kZelmonOld);
        ASSERT_TRUE(testbed::SetUninstallValue(code, L"UninstallString", c.command, c.type));
        testbed::RunResult result = RunUpgrade(L"/QN", {Answer(Button::Ok)}, Folder());
        EXPECT_EQ(c.exitCode, result.run.exitCode) << testing::PrintToString(c.command);
        if (c.exitCode == 0) {
            ExpectUpgraded();
        } else {
            ExpectBoxes(result, {ErrorBox(L"Installation operation failed.(" + std::to_wstring(c.exitCode) + L")")});
            ExpectOldVersionUntouched();
            EXPECT_TRUE(Logged(L"Failed to execute uninstall cmd(" + c.command + L") err=161"));
        }
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((ProductFolder() + L"uninst.exe.ran").c_str()));
        testbed::RemoveZelmon();
        DeleteFileW((ProductFolder() + L"devupd.log").c_str());
    }
}

TEST_F(Utility, FailedRemovalEndsTheRunWithItsNumber)
{
    InstallOld(testbed::kZelmonFailRemoval);
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunUpgrade(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(1603u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), ErrorBox(L"Installation operation failed.(1603)")});
    EXPECT_TRUE(Logged(L"Uninstall process has failed.err = 1603"));
    EXPECT_FALSE(Logged(L"InstallUtil() is called"));
    EXPECT_EQ(L"Return from UninstallUtil()", Log().back()) << "the driver pass does not run";
    EXPECT_EQ(std::vector<std::wstring>(), SettingsFolders()) << "the settings are still in the registry";

    ASSERT_TRUE(testbed::SetUninstallValue(testbed::kZelmonProductCode, L"UninstallString",
                                           Folder() + L"uninstall-missing.exe"));
    result = RunUpgrade(L"/QN", {Answer(Button::Ok)});
    EXPECT_EQ(2u, result.run.exitCode);
    ExpectBoxes(result, {ErrorBox(L"Installation operation failed.(2)")});
    EXPECT_TRUE(Logged(L"Failed to execute uninstall cmd(" + Folder() + L"uninstall-missing.exe /qn) err=2"));
}

TEST_F(Utility, FailedInstallationAfterRemovalStillRestoresTheSettings)
{
    InstallOld(testbed::kZelmonOld);
    PrepareProduct(testbed::kZelmonFailInstall);
    testbed::RunResult result = RunUpgrade(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(1603u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), ErrorBox(L"Installation operation failed.(1603)")});
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer"));
    EXPECT_TRUE(Logged(L"CreateProcess succeeded cmd=" + Regedit() + L" /s \"" + SettingsFile() + L"\""));
    EXPECT_TRUE(Logged(L"CreateProcess succeeded cmd=" + Net() + L" stop zelmsvc"));
    EXPECT_EQ(L"Return from InstallUtil()", Log().back());
}

// A package that cannot be read is reported before anything is changed.
TEST_F(Utility, UnreadablePackageIsReportedWithItsNumber)
{
    struct Case {
        std::wstring package;
        std::string content;  // written instead of the package when not empty
        DWORD number;
    };
    const Case cases[] = {
        {testbed::kZelmonNoVersion, "", ERROR_INSTALL_PACKAGE_INVALID},
        {testbed::kZelmonVersion64, "", ERROR_INSTALL_PACKAGE_INVALID},
        {L"notapackage.msi", "ZELMON Utility 1.2.10\r\n", kPackageCannotOpen},
        {L"missing.msi", "", kPackageCannotOpen},
    };
    InstallOld(testbed::kZelmonOld);
    for (const Case& c : cases) {
        if (c.package != L"missing.msi" && c.content.empty()) {
            PrepareProduct(c.package);
        } else {
            NamePackage(c.package);
        }
        if (!c.content.empty()) {
            WriteProductFile(c.package, c.content);
        }
        testbed::RunResult result = RunUpgrade(L"/QN", {Answer(Button::Ok)});
        EXPECT_EQ(c.number, result.run.exitCode) << testing::PrintToString(c.package);
        ExpectBoxes(result, {ErrorBox(L"Installation operation failed.(" + std::to_wstring(c.number) + L")")});
        EXPECT_FALSE(Logged(L"UninstallUtil() is called"));
        ExpectOldVersionUntouched();
        DeleteFileW((ProductFolder() + L"devupd.log").c_str());
    }
}

// A version that cannot be read whole could put an older utility over a newer one.
TEST_F(Utility, UnreadableInstalledVersionLeavesTheUtilityAlone)
{
    InstallOld(testbed::kZelmonOld);
    const std::wstring longVersion = L"1.2.9." + std::wstring(26, L'0');
    ASSERT_TRUE(testbed::SetUninstallValue(testbed::kZelmonProductCode, L"DisplayVersion", longVersion));
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunUpgrade(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility), PlainBox(kAlreadyInstalled)});
    EXPECT_TRUE(Logged(L"Installed version unreadable"));
    EXPECT_FALSE(Logged(L"UninstallUtil() is called"));
    EXPECT_EQ(longVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_EQ(L"Driver installed(No reboot)", Log().back());
}

TEST_F(Utility, SettingsSurviveATemporaryFolderWithBlanks)
{
    temp_ = Folder() + L"temp dir\\";
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), NULL));
    InstallOld(testbed::kZelmonOld);
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunUpgrade(L"/QN", {}, ProductFolder());
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectUpgraded();
    EXPECT_TRUE(Logged(L"CreateProcess succeeded cmd=" + Regedit() + L" /s \"" + SettingsFile() + L"\""));
}

// Someone without administrator rights holds a settings file of theirs open
// under the name the export uses, in the temporary folder that every user may
// write (C:\Windows\Temp when a deployment system runs the setup).
TEST_F(Utility, AFileOfAnotherUserIsNeverImported)
{
    InstallOld(testbed::kZelmonOld);
    const std::string planted =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTIRO\\Planted]\r\n\"By\"=\"someone\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings]\r\n\"MailServer\"=\"planted\"\r\n";
    const std::wstring file = temp_ + L"TMPREGZSVC.ZRG";
    ASSERT_TRUE(testbed::WriteFileBytes(file, planted));
    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunUpgrade(L"/QN", {});
    CloseHandle(held);
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectUpgraded();
    HKEY key = NULL;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VANTIRO\\Planted", 0, KEY_QUERY_VALUE, &key));
}

// Without a copy of the settings nothing is removed; the failure box shows
// the registry editor's number, or 29 when it wrote nothing.
TEST_F(Utility, FailedExportStopsBeforeTheRemoval)
{
    struct Case {
        const wchar_t* behaviour;
        DWORD number;
    };
    const Case cases[] = {{L"fail 5", 5}, {L"empty", ERROR_WRITE_FAULT}};
    InstallOld(testbed::kZelmonOld);
    PrepareProduct(testbed::kZelmonNew);
    for (const Case& c : cases) {
        ASSERT_TRUE(testbed::UseRegeditDouble(c.behaviour, L""));
        testbed::RunResult result = RunUpgrade(L"/QN", {Answer(Button::Ok)});
        EXPECT_EQ(c.number, result.run.exitCode) << testing::PrintToString(c.behaviour);
        ExpectBoxes(result, {ErrorBox(L"Installation operation failed.(" + std::to_wstring(c.number) + L")")});
        EXPECT_TRUE(Logged(L"Service settings not saved. err=" + std::to_wstring(c.number)));
        EXPECT_FALSE(Logged(L"Executed uninstall cmd(" + SystemFolder() + L"\\MsiExec.exe /X" +
                            testbed::kZelmonProductCode + L" /qn)"));
        ExpectOldVersionUntouched();
        EXPECT_EQ(std::vector<std::wstring>(), SettingsFolders());
        DeleteFileW((ProductFolder() + L"devupd.log").c_str());
    }
}

// After the removal the export is the only copy of the settings: a failed
// import keeps it and says where it is.
TEST_F(Utility, FailedImportKeepsTheSettingsFile)
{
    InstallOld(testbed::kZelmonOld);
    PrepareProduct(testbed::kZelmonNew);
    ASSERT_TRUE(testbed::UseRegeditDouble(L"", L"fail 6"));
    testbed::RunResult result = RunUpgrade(L"/QN", {Answer(Button::Ok)});
    EXPECT_EQ(6u, result.run.exitCode);
    ExpectBoxes(result, {ErrorBox(L"Installation operation failed.(6)")});
    EXPECT_EQ(testbed::kZelmonNewVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    std::vector<std::wstring> folders = SettingsFolders();
    ASSERT_EQ(1u, folders.size());
    std::string kept;
    ASSERT_TRUE(testbed::ReadFileBytes(folders[0] + L"\\TMPREGZSVC.ZRG", &kept));
    EXPECT_NE(std::string::npos, kept.find("m\0a\0i\0l\0.\0v\0a\0n\0t\0i\0r\0o\0", 0, 24)) << "UTF-16 export";
    EXPECT_TRUE(Logged(L"Service settings kept in " + SettingsFile()));
}

TEST_F(Utility, NoSettingsKeyNothingToCarryOver)
{
    InstallOld(testbed::kZelmonOld);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, testbed::kZelmonSettingsKey));
    PrepareProduct(testbed::kZelmonNew);
    testbed::RunResult result = RunUpgrade(L"/QN", {});
    EXPECT_EQ(0u, result.run.exitCode);
    EXPECT_EQ(testbed::kZelmonNewVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_TRUE(Logged(L"No service settings to carry over"));
    for (const std::wstring& line : Messages()) {
        EXPECT_EQ(std::wstring::npos, line.find(L"regedit")) << testing::PrintToString(line);
        EXPECT_EQ(std::wstring::npos, line.find(L"net.exe")) << testing::PrintToString(line);
    }
}

// The service runs afterwards, also when the new installation left it
// stopped; one that cannot be started is reported with net's number.
TEST_F(Utility, ServiceRunsAfterTheUpgradeOrTheRunSaysWhy)
{
    InstallOld(testbed::kZelmonOld);
    PrepareProduct(testbed::kZelmonNoStart);
    testbed::RunResult result = RunUpgrade(L"/QN", {});
    EXPECT_EQ(0u, result.run.exitCode);
    EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
    EXPECT_TRUE(Logged(L"CreateProcess succeeded cmd=" + Net() + L" start zelmsvc"));
    testbed::RemoveZelmon();

    InstallOld(testbed::kZelmonOld);
    // The running service read its settings at its start; the next start fails.
    ASSERT_TRUE(testbed::WriteSetting(L"MailServer", L"refuse-start"));
    PrepareProduct(testbed::kZelmonNew);
    result = RunUpgrade(L"/QN", {Answer(Button::Ok)});
    EXPECT_NE(0u, result.run.exitCode);
    ExpectBoxes(result, {ErrorBox(L"Installation operation failed.(" + std::to_wstring(result.run.exitCode) + L")")});
    EXPECT_FALSE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
    EXPECT_TRUE(Logged(L"Service zelmsvc is not running"));
}

// Windows Installer's 3010 is a success: the upgrade goes on, and the restart
// is offered at the end, as for a driver.
TEST_F(Utility, InstallerRestartIsOfferedAtTheEnd)
{
    struct Case {
        const wchar_t* old;
        const wchar_t* package;
    };
    const Case cases[] = {
        {testbed::kZelmonRestartRemoval, testbed::kZelmonNew},
        {testbed::kZelmonOld, testbed::kZelmonRestartInstall},
    };
    for (const Case& c : cases) {
        InstallOld(c.old);
        PrepareProduct(c.package);
        testbed::RunResult result = RunUpgrade(L"", {Answer(Button::Yes), Answer(Button::No)});
        EXPECT_EQ(0u, result.run.exitCode) << testing::PrintToString(c.package);
        ExpectBoxes(result, {YesNoBox(kConfirmUtility), YesNoBox(kRestart)});
        ExpectUpgraded();
        testbed::RemoveZelmon();
    }
}

}  // namespace
