// 64-bit Windows: setup.exe, a 32-bit program, hands the run over to
// setup64.exe beside it, and setup64.exe upgrades a utility of either
// platform in the registry view its package writes. These cases run in a
// 64-bit prefix only (scripts/test.sh), with the test programs built for x64.
#include <string>
#include <vector>

#include "driver_bed.h"
#include "utility_bed.h"
#include "utility_scenario.h"

namespace {

using testbed::Answer;
using testbed::Button;

const wchar_t kFailed1603[] = L"Installation operation failed.(1603)";

// An installed utility of either platform, and the packages that Inst.Inf
// names for setup64.exe.
struct OwnView {
    const wchar_t* installed;
    REGSAM view;  // where its package writes
    REGSAM otherView;
    std::string packageLines;
    const wchar_t* package;  // the one setup64.exe installs
};

// A product as it ships for both platforms: MSI names the x86 package, MSI64
// the x64 one.
class X64 : public Utility {
protected:
    void CopyPackages(const std::vector<std::wstring>& packages)
    {
        for (const std::wstring& package : packages) {
            ASSERT_TRUE(testbed::CopyFileTo(testbed::PackagePath(package), ProductFolder() + package));
        }
    }
    // A controller whose driver 1.0.0.1 is in place, 2.0.0.5 packaged.
    Entry AddOutdatedController()
    {
        Entry entry = AddEntry(L"2.0.0.5");
        InstallDriverVersion(entry, L"1.0.0.1");
        return entry;
    }
    std::wstring InstallCommand(const std::wstring& package) const
    {
        return L"CreateProcess succeeded cmd=" + SystemFolder() + L"\\msiexec.exe /I \"" + ProductFolder() + package +
               L"\" TARGETDIR=\"" + apps_.substr(0, apps_.size() - 1) + L"\" /qn";
    }
    void ForgetRun()
    {
        DeleteFileW((ProductFolder() + L"devupd.log").c_str());
    }
    // setup64.exe finds the installed utility's keys in the view of its
    // package's platform and carries the administrator's settings over there:
    // nothing lands in the other view, and the service restarts with them.
    void ExpectUpgradeInItsOwnView(const OwnView& c)
    {
        AddSetup64();
        CopyPackages({testbed::kZelmonNew, testbed::kZelmonNewX64});
        controller_ = AddCurrentController();
        InstallOld(c.installed, c.view);
        const std::wstring folder = apps_ + L"ZELMON\\";
        const size_t startsBefore = testbed::ServiceStarts(folder);
        WriteSetupFile({controller_}, "Debug=1\r\n" + c.packageLines);

        testbed::RunResult result = RunSetup64(L"/QN", {}, TempEnvironment());
        EXPECT_EQ(0u, result.run.exitCode);
        ExpectBoxes(result, {});
        ExpectUpgraded(c.view);
        EXPECT_EQ(folder, testbed::InstallationDirectory(c.view));
        EXPECT_FALSE(testbed::VantiroKeyExists(c.otherView));
        EXPECT_TRUE(Logged(InstallCommand(c.package)));
        // Started by the new installation, then stopped and started again.
        EXPECT_GE(testbed::ServiceStarts(folder), startsBefore + 2);
    }
};

// The user meets one run: one question and one closing box, whichever of the
// two programs shows them, and the caller gets setup64.exe's exit code.
TEST_F(X64, SetupHandsTheWholeRunOverToSetup64)
{
    struct Case {
        const wchar_t* arguments;
        std::vector<Answer> answers;
        const wchar_t* package64;
        DWORD exitCode;
        std::vector<ExpectedBox> boxes;
    };
    const Case cases[] = {
        {L"",
         {Answer(Button::Yes), Answer(Button::Ok)},
         testbed::kZelmonNewX64,
         0,
         {YesNoBox(kConfirmUtility), PlainBox(kCompleted)}},
        {L"/QN", {}, testbed::kZelmonNewX64, 0, {}},
        {L"",
         {Answer(Button::Yes), Answer(Button::Ok)},
         testbed::kZelmonFailInstallX64,
         1603,
         {YesNoBox(kConfirmUtility), ErrorBox(kFailed1603)}},
        {L"/QN", {Answer(Button::Ok)}, testbed::kZelmonFailInstallX64, 1603, {ErrorBox(kFailed1603)}},
    };
    AddSetup64();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments) + " " + testing::PrintToString(c.package64));
        InstallOld(testbed::kZelmonOldX64, KEY_WOW64_64KEY);
        const Entry entry = AddOutdatedController();
        CopyPackages({testbed::kZelmonNew, c.package64});
        WriteSetupFile({entry},
                       "Debug=1\r\nMSI=" + Narrow(testbed::kZelmonNew) + "\r\nMSI64=" + Narrow(c.package64) + "\r\n");

        testbed::RunResult result = RunSetup(c.arguments, c.answers, TempEnvironment());
        EXPECT_EQ(c.exitCode, result.run.exitCode);
        ExpectBoxes(result, c.boxes);
        const std::wstring arguments = c.arguments;
        EXPECT_TRUE(Logged(L"Handed over to \"" + Setup64Exe() + L"\"" + (arguments.empty() ? L"" : L" ") + arguments));
        EXPECT_TRUE(Logged(InstallCommand(c.package64)));
        if (c.exitCode == 0) {
            ExpectUpgraded(KEY_WOW64_64KEY);
            EXPECT_FALSE(testbed::VantiroKeyExists(KEY_WOW64_32KEY));
            EXPECT_EQ(L"2.0.0.5", testbed::ReadInstalledDriverVersion(entry.service));
        } else {
            // A failed utility stage leaves the driver alone.
            EXPECT_EQ(L"1.0.0.1", testbed::ReadInstalledDriverVersion(entry.service));
        }
        testbed::RemoveZelmon();
        ForgetRun();
    }
}

// Without setup64.exe the 32-bit program cannot do the work on 64-bit
// Windows, whatever the lowest version Inst.Inf asks for: it says so before
// anything changes.
TEST_F(X64, SetupAloneChangesNothing)
{
    struct Case {
        const char* osver;
        const wchar_t* arguments;
        std::vector<Answer> answers;
        std::vector<ExpectedBox> boxes;
    };
    const Case cases[] = {
        {"5.1", L"", {Answer(Button::Ok)}, {ErrorBox(kWrongOs)}},
        {"6.1", L"", {Answer(Button::Ok)}, {ErrorBox(kWrongOs)}},
        {"5.1", L"/QN", {}, {}},
        {"6.1", L"/QN", {}, {}},
    };
    InstallOld(testbed::kZelmonOldX64, KEY_WOW64_64KEY);
    const Entry entry = AddOutdatedController();
    CopyPackages({testbed::kZelmonNew, testbed::kZelmonNewX64});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("OSVER=") + c.osver + " " + testing::PrintToString(c.arguments));
        WriteSetupFile({entry}, std::string("Debug=1\r\nOSVER=") + c.osver + "\r\nMSI=" + Narrow(testbed::kZelmonNew) +
                                    "\r\nMSI64=" + Narrow(testbed::kZelmonNewX64) + "\r\n");
        testbed::RunResult result = RunSetup(c.arguments, c.answers, TempEnvironment());
        EXPECT_EQ(3u, result.run.exitCode);
        ExpectBoxes(result, c.boxes);
        EXPECT_TRUE(Logged(L"64-bit Windows needs setup64.exe"));
        EXPECT_FALSE(Logged(L"UninstallUtil() is called"));
        EXPECT_FALSE(Logged(L"InstallUtil() is called"));
        ExpectOldVersionUntouched(KEY_WOW64_64KEY);
        EXPECT_EQ(L"1.0.0.1", testbed::ReadInstalledDriverVersion(entry.service));
        ForgetRun();
    }
}

TEST_F(X64, Setup64UpgradesAnX64UtilityInThe64BitView)
{
    ExpectUpgradeInItsOwnView(
        {testbed::kZelmonOldX64, KEY_WOW64_64KEY, KEY_WOW64_32KEY,
         "MSI=" + Narrow(testbed::kZelmonNew) + "\r\nMSI64=" + Narrow(testbed::kZelmonNewX64) + "\r\n",
         testbed::kZelmonNewX64});
}

// A 32-bit utility keeps its key in the 32-bit view: the settings are carried
// over there, by the 32-bit registry editor, and no copy lands in the 64-bit view.
TEST_F(X64, Setup64UpgradesA32BitUtilityInThe32BitView)
{
    ExpectUpgradeInItsOwnView({testbed::kZelmonOld, KEY_WOW64_32KEY, KEY_WOW64_64KEY,
                               "MSI=" + Narrow(testbed::kZelmonNew) + "\r\n", testbed::kZelmonNew});
}

}  // namespace
