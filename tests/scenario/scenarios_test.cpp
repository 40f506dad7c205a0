// The real program, run as its own process on a machine that each row
// prepares, answered by the robot as a user would: setup.exe in the x86 lab
// (32-bit Windows), setup64.exe with the x64 packages in the x64 lab (64-bit
// Windows). Every row also checks what holds for every run: nothing planted
// beside the program or in the current folder runs or is loaded, the log
// stays out of the current folder, no window is left beside the last box, and
// a quiet run shows no window.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <set>
#include <functional>
#include <string>
#include <vector>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "driver_bed.h"
#include "product.h"
#include "utility_bed.h"

namespace {

using testbed::BoxIcon;
using testbed::Button;
using testbed::Product;

const wchar_t kConfirmUtility[] = L"Are you sure you want to install VANTIRO RAID utility?";
const wchar_t kConfirmDriver[] = L"Are you sure you want to update VANTIRO RAID driver?";
const wchar_t kAlreadyInstalled[] = L"New version of this product is already installed ";
const wchar_t kCompleted[] = L"VANTIRO RAID Utility has been successfully installed.";
const wchar_t kNoFiles[] = L"No files found.";
const wchar_t kNoController[] = L"You cannot install the software on your computer.";
const wchar_t kWrongOs[] = L"You cannot install the software on your OS.";
const wchar_t kRestart[] =
    L"The RAID driver has been updated. You must reboot your computer to enable this software. \n"
    L"Do you want to restart your computer now?";
const wchar_t kJapaneseConfirmUtility[] =
    L"VANTIRO RAID \u30e6\u30fc\u30c6\u30a3\u30ea\u30c6\u30a3\u306e\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3092\u958b"
    L"\u59cb\u3057\u307e\u3059\u304b?";
const wchar_t kJapaneseFailed[] =
    L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002";

// A box the user meets, and the button pressed.
struct Box {
    Button press;
    BoxIcon icon;
    std::wstring text;
};

Box Yes(const std::wstring& text)
{
    return {Button::Yes, BoxIcon::Question, text};
}
Box No(const std::wstring& text)
{
    return {Button::No, BoxIcon::Question, text};
}
Box Ok(const std::wstring& text)
{
    return {Button::Ok, BoxIcon::None, text};
}
Box Information(const std::wstring& text)
{
    return {Button::Ok, BoxIcon::Information, text};
}
Box Error(const std::wstring& text)
{
    return {Button::Ok, BoxIcon::Error, text};
}
Box Failed(int number, const std::wstring& text = L"Installation operation failed.")
{
    return Error(text + L"(" + std::to_wstring(number) + L")");
}

// The controller of a row. Its package in the product folder holds driver 2.0.0.5.
enum Driver {
    kNoEntry,   // no controller entry in Inst.Inf
    kAbsent,    // an entry whose device is not there
    kNoDriver,  // the device without a driver
    kOutdated,  // driver 1.0.0.1 in place
    kCurrent,   // driver 2.0.0.5 in place
};

using Step = std::function<void(Product&)>;

struct Row {
    const char* name;
    Driver driver;
    const wchar_t* installed;  // the utility's package installed before; nullptr: none
    const wchar_t* package;    // the package named by MSI, from the lab if it has one; nullptr: none
    const char* install;       // more [Install] lines of Inst.Inf; nullptr: Inst.Inf is not written
    Step prepare;              // whatever else the machine holds
    const wchar_t* arguments;
    std::vector<Box> boxes;  // every box, in order
    DWORD exitCode;
    std::vector<std::wstring> logged;  // key log lines, in part; "!" before a text no line may hold
    Step check;                        // the machine afterwards
};

Row R(const char* name, Driver driver, const wchar_t* installed, const wchar_t* package, const char* install,
      Step prepare, const wchar_t* arguments, std::vector<Box> boxes, DWORD exitCode, std::vector<std::wstring> logged,
      Step check)
{
    return {name, driver, installed, package, install, prepare, arguments, boxes, exitCode, logged, check};
}

void ExpectUntouched(Product& p)
{
    EXPECT_EQ(testbed::kZelmonOldVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer", nullptr, p.UtilityView()));
    EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
    EXPECT_EQ(std::vector<std::wstring>(), p.SettingsFolders());
}

// The new version in the old one's folder, with the administrator's setting,
// and the service restarted with it: started by the new installation, then
// stopped and started again.
void ExpectUpgraded(Product& p)
{
    EXPECT_EQ(testbed::kZelmonNewVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_EQ(p.AppsFolder() + L"\\ZELMON\\", testbed::InstallationDirectory(p.UtilityView()));
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer", nullptr, p.UtilityView()));
    EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
    EXPECT_GE(testbed::ServiceStarts(p.AppsFolder() + L"\\ZELMON\\"), 3u);
    EXPECT_EQ(std::vector<std::wstring>(), p.SettingsFolders());
    if (p.UtilityView() != 0) {
        EXPECT_FALSE(testbed::ZelmonKeyExists(p.UtilityView() == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY))
            << "the settings copied into the other registry view";
    }
}

void ExpectNoRestart(Product& p)
{
    EXPECT_FALSE(testbed::WaitForFile(p.RestartMarker(), 1000));
}

Step InstalledDriver(std::wstring version)
{
    return [version](Product& p) { EXPECT_EQ(version, testbed::ReadInstalledDriverVersion(p.controllers[0].service)); };
}

void ExpectUntouchedWithTheDriver(Product& p)
{
    ExpectUntouched(p);
    InstalledDriver(L"1.0.0.1")(p);
}

void ExpectUpgradedWithTheDriver(Product& p)
{
    ExpectUpgraded(p);
    InstalledDriver(L"2.0.0.5")(p);
}

Step Newdev(testbed::NewdevAnswer answer)
{
    return [answer](Product& p) {
        EXPECT_TRUE(testbed::UseNewdevDouble(answer));
        p.PlantRestartMarker();
    };
}

Step Regedit(const wchar_t* exports, const wchar_t* imports)
{
    return [exports, imports](Product&) { EXPECT_TRUE(testbed::UseRegeditDouble(exports, imports)); };
}

Step ImagePath(std::wstring form)
{
    return [form](Product& p) { EXPECT_TRUE(testbed::SetServiceImagePath(p.controllers[0].service, p.Expand(form))); };
}

Step UninstallString(std::wstring command, DWORD type = REG_SZ)
{
    return [command, type](Product& p) {
        testbed::CopyFileTo(testbed::TestProgramFolder() + L"planted_program.exe", p.product + L"uninst.exe");
        EXPECT_TRUE(
            testbed::SetUninstallValue(testbed::kZelmonProductCode, L"UninstallString", p.Expand(command), type));
    };
}

void ExpectCentredProgressWindow(Product&)
{
    std::vector<std::wstring> calls = testbed::ReadNewdevDoubleCalls();
    ASSERT_EQ(1u, calls.size());
    long left = 0, top = 0, right = 0, bottom = 0;
    wchar_t text[64] = L"";
    ASSERT_EQ(5, swscanf(calls[0].substr(calls[0].find(L"\twindow=")).c_str(), L"\twindow=%ld,%ld,%ld,%ld:%63l[^\t]",
                         &left, &top, &right, &bottom, text));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN) / 2 - (right - left) / 2, left);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN) / 2 - (bottom - top) / 2, top);
    EXPECT_STREQ(L"Updating VANTIRO RAID Driver...", text);
}

// The longest folder that Windows starts the program from. Its entry's INF
// path does not fit, nor, behind setup.exe's shorter name, its log path:
// nothing is cut.
void MoveProductToTheLongestFolder(Product& p)
{
    p.MoveProduct(MAX_PATH - 1 - wcslen(testbed::kSetupProgram));
    p.AddController(L"", L"");
    p.WriteSetupFile("Debug=1\r\n");
}

void ExpectNoLogWhereItDoesNotFit(Product& p)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((p.product + L"devupd*").c_str(), &data);
    EXPECT_EQ(p.product.size() + wcslen(L"devupd.log") < MAX_PATH, find != INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

void ArgumentZeroInTheCurrentFolder(Product& p)
{
    p.WriteSetupFile("Debug=1\r\n", p.current);
    p.argument0 = p.current + L"setup.exe";
}

void DisplayVersionOf32Characters(Product&)
{
    EXPECT_TRUE(
        testbed::SetUninstallValue(testbed::kZelmonProductCode, L"DisplayVersion", L"1.2.9." + std::wstring(26, L'0')));
}

void ExpectExportKept(Product& p)
{
    std::vector<std::wstring> folders = p.SettingsFolders();
    std::string kept;
    ASSERT_EQ(1u, folders.size());
    EXPECT_TRUE(testbed::ReadFileBytes(folders[0] + L"\\zelmsvc.reg", &kept));
    EXPECT_NE(std::string::npos, kept.find(std::string("v\0a\0n\0t\0i\0r\0o\0", 14))) << "the UTF-16 export";
}

void DeleteSettingsKey(Product&)
{
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, testbed::kZelmonSettingsKey));
}

// A deployment system starts the setup a second time while the first run
// still asks: the second ends at once, and nothing has changed yet.
void RunAgainQuietly(Product& p)
{
    p.atFirstBox = [](Product& p) {
        testbed::RunResult second = p.Run(L"/QN", {Button::Ok});
        EXPECT_EQ(1618u, second.run.exitCode);
        std::vector<std::wstring> texts;
        for (const testbed::BoxSeen& box : second.boxes)
            texts.push_back(box.text);
        EXPECT_EQ(std::vector<std::wstring>{L"Installation operation failed.(1618)"}, texts);
        ExpectUntouchedWithTheDriver(p);
    };
}

// The hardware ID of a present device, and Inst.Inf's DeviceID: the same with
// one more character, a value one longer than the program reads. The device's
// driver service names a file of 1.0.0.1 (Wine installs no driver for an ID
// this long), and the double tells whether an update was asked for.
const size_t kLongestDeviceId = 259;
void CutDeviceIdMatchesAPresentDevice(Product& p)
{
    const std::wstring start = L"PCI\\VEN_5A4D&DEV_" + std::to_wstring(GetCurrentProcessId()) + L"_";
    const std::wstring present = start + std::wstring(kLongestDeviceId - start.size(), L'0');
    testbed::Controller controller = p.AddController(L"2.0.0.5", L"", true, present);
    const std::wstring image = p.folder + L"vraid.sys";
    EXPECT_TRUE(testbed::CopyFileTo(testbed::TestProgramFolder() + L"drivers\\1.0.0.1\\vraid.sys", image));
    EXPECT_TRUE(testbed::SetServiceImagePath(controller.service, image));
    EXPECT_TRUE(testbed::UseNewdevDouble(testbed::NewdevAnswer::Success(false)));
    p.controllers[0].hardwareId = present + L"1";
    p.WriteSetupFile("Debug=1\r\n");
}

// The installed driver is newer than the packaged one, and its version block
// cannot be read.
void UnreadableNewerDriver(Product& p)
{
    p.AddController(L"1.0.0.1", L"2.0.0.5");
    p.WriteSetupFile("Debug=1\r\n");
    EXPECT_TRUE(testbed::UseVersionDouble());
}

// Wine's msiexec never answers 1641; the double answers it once the removal or
// the installation is done, as msiexec does when Windows restarts by itself.
Step MsiexecRestartsWindows(const wchar_t* removal, const wchar_t* install)
{
    return [removal, install](Product&) { EXPECT_TRUE(testbed::UseMsiexecDouble(removal, install)); };
}

bool IsSystemFolder(const std::wstring& folder)
{
    return CompareStringOrdinal(folder.c_str(), -1, testbed::SystemFolder().c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Every msiexec that the run started, in the system folder and told not to
// restart Windows.
void ExpectMsiexecCallsOfTheRun(size_t count)
{
    std::vector<std::wstring> calls = testbed::ReadMsiexecDoubleCalls();
    EXPECT_EQ(count, calls.size());
    for (const std::wstring& call : calls) {
        EXPECT_TRUE(IsSystemFolder(call.substr(0, call.find(L'\t')))) << testbed::ToBytes(call, CP_UTF8);
        EXPECT_NE(std::wstring::npos, call.find(L" REBOOT=ReallySuppress /qn")) << testbed::ToBytes(call, CP_UTF8);
    }
}

bool Logged(Product& p, const std::wstring& text)
{
    const std::vector<std::wstring> log = p.Log();
    return std::any_of(log.begin(), log.end(),
                       [&](const std::wstring& line) { return line.find(p.Expand(text)) != std::wstring::npos; });
}

// A deployment tool's retry: the same product folder with a sound package,
// quiet, and nothing in Windows' way any more.
testbed::RunResult RunAgainWithASoundPackage(Product& p)
{
    testbed::StopUsingMsiexecDouble();
    p.package = Product::EditionPackage(testbed::kZelmonNew);
    p.CopyPackage(p.package);
    p.WriteSetupFile("Debug=1\r\nMSI=" + testbed::ToBytes(testbed::kZelmonNew, CP_ACP) +
                     "\r\nMSI64=" + testbed::ToBytes(testbed::kZelmonNewX64, CP_ACP) + "\r\n");
    return p.Run(L"/QN", {});
}

// The retry finishes what the first run started: the old folder, the old
// settings, the service restarted, the record gone.
void ExpectTheNextRunFinishes(Product& p)
{
    EXPECT_EQ(0u, RunAgainWithASoundPackage(p).run.exitCode);
    EXPECT_TRUE(Logged(p, L"Finishing the upgrade of ")) << "the record was not finished";
    ExpectUpgraded(p);
}

void ExpectRemovedThenFinished(Product& p)
{
    EXPECT_FALSE(testbed::ReadUninstallEntry(testbed::kZelmonProductCode).exists);
    ExpectExportKept(p);
    ExpectTheNextRunFinishes(p);
}

// Old version gone, new one not installed: the settings wait in the kept export.
void ExpectRemovedWithTheExportKept(Product& p)
{
    EXPECT_FALSE(testbed::ReadUninstallEntry(testbed::kZelmonProductCode).exists);
    ExpectExportKept(p);
    ExpectMsiexecCallsOfTheRun(1);
    InstalledDriver(L"1.0.0.1")(p);
    ExpectTheNextRunFinishes(p);
}

// New version with the administrator's setting; the service and the driver
// are left to the restart.
void ExpectInstalledWithTheSettingsBeforeTheRestart(Product& p)
{
    EXPECT_EQ(testbed::kZelmonNewVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer", nullptr, p.UtilityView()));
    EXPECT_EQ(std::vector<std::wstring>(), p.SettingsFolders());
    ExpectMsiexecCallsOfTheRun(2);
    InstalledDriver(L"1.0.0.1")(p);
}

// The product's own uninstall program in a folder whose name has a blank, and
// a program planted at the shorter path that the program search would try
// first. The stand-in removes the product with msiexec.
const wchar_t kUninstallerFolder[] = L"Vantiro Tools\\";

Step UninstallerInAFolderWithABlank(const std::wstring& command, bool present)
{
    return [command, present](Product& p) {
        EXPECT_TRUE(CreateDirectoryW((p.product + kUninstallerFolder).c_str(), nullptr));
        if (present) {
            EXPECT_TRUE(testbed::CopyFileTo(testbed::TestProgramFolder() + L"uninstaller.exe",
                                            p.product + kUninstallerFolder + L"uninst.exe"));
        }
        EXPECT_TRUE(
            testbed::CopyFileTo(testbed::TestProgramFolder() + L"planted_program.exe", p.product + L"Vantiro.exe"));
        EXPECT_TRUE(testbed::SetUninstallValue(testbed::kZelmonProductCode, L"UninstallString", p.Expand(command)));
    };
}

void ExpectUpgradedByTheUninstallerInTheSystemFolder(Product& p)
{
    ExpectUpgraded(p);
    std::string bytes;
    ASSERT_TRUE(testbed::ReadFileBytes(p.product + kUninstallerFolder + L"uninst.exe.cwd", &bytes));
    std::wstring folder(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    EXPECT_TRUE(IsSystemFolder(folder)) << testbed::ToBytes(folder, CP_UTF8);
}

const std::string kEntryWithoutId = "[Install]\r\nDebug=1\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vraid\r\n";
// With the product folder, longer than a path may be.
const std::string kLongPackageName = "MSI=" + std::string(230, 'u') + ".msi\r\n";
const std::wstring kRegedit = L"CreateProcess succeeded cmd={windows}\\regedit.exe";
const std::wstring kNet = L"CreateProcess succeeded cmd={system}\\net.exe";
const std::wstring kUninstall = L"Executed uninstall cmd({system}\\MsiExec.exe /X{code} REBOOT=ReallySuppress /qn)";

// Wine's msiexec never answers 1618; the double answers it for the removal
// or the installation without running it, as msiexec does while another
// installation runs.
Step MsiexecFindsAnotherInstallation(const wchar_t* removal, const wchar_t* install)
{
    return [removal, install](Product&) { EXPECT_TRUE(testbed::UseMsiexecDouble(removal, install)); };
}

Step HoldWindowsInstaller(DWORD releaseMs)
{
    return [releaseMs](Product& p) { p.HoldWindowsInstaller(releaseMs); };
}

// The old folder kept in the registry, in an existing parent that msiexec
// cannot make the new version's folder in: 252 characters.
void InstallationDirectoryTooLongToInstallInto(Product& p)
{
    const std::wstring parent = p.AppsFolder() + L"\\" + std::wstring(243 - p.AppsFolder().size(), L'd');
    EXPECT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    EXPECT_TRUE(testbed::SetInstallationDirectory(parent + L"\\ZELMON\\", p.UtilityView()));
}

const std::wstring kWaiting = L"Waiting for Windows Installer: another installation is running";

// What a deployment tool reads of the last run: its exit code, result and
// the versions installed now.
Step Recorded(DWORD exitCode, std::wstring result, std::wstring utility, std::wstring driver, Step then = nullptr)
{
    return [=](Product& p) {
        EXPECT_EQ(std::to_wstring(exitCode), testbed::ReadRunRecord(L"LastExitCode"));
        EXPECT_EQ(result, testbed::ReadRunRecord(L"LastResult"));
        EXPECT_EQ(utility, testbed::ReadRunRecord(L"UtilityVersion"));
        EXPECT_EQ(driver, testbed::ReadRunRecord(L"DriverVersion"));
        EXPECT_EQ(L"0", testbed::ReadRunRecord(L"RestartDue"));
        const std::vector<std::wstring> logs = p.MachineLogs();
        EXPECT_EQ(logs.empty() ? L"(none)" : logs.back(), testbed::ReadRunRecord(L"LogFile"));
        if (then)
            then(p);
    };
}

// A deployment tool's content cache that takes no file: the machine folder's
// log is the log.
void ProductFolderThatTakesNoLog(Product& p)
{
    EXPECT_TRUE(CreateDirectoryW((p.product + L"devupd.log").c_str(), nullptr));
}

void ExpectTheMachineLogAlone(Product& p)
{
    const std::vector<std::wstring> logs = p.MachineLogs();
    ASSERT_EQ(1u, logs.size());
    const std::vector<std::wstring> log = p.Log(logs[0]);
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(),
                                   p.Expand(L"The product folder takes no log ({product}devupd.log): this log is the "
                                            L"run's only one")));
    EXPECT_EQ(logs[0], testbed::ReadRunRecord(L"LogFile"));
}

// The machine folder keeps the newest 20 runs' logs.
void ExpectTwentyLogsAfter21Runs(Product& p)
{
    const std::vector<std::wstring> before = p.MachineLogs();
    ASSERT_FALSE(before.empty()) << "the first run left no log in the machine folder";
    const std::wstring first = before.front();
    for (int run = 0; run < 20; ++run)
        EXPECT_EQ(3u, p.Run(L"/QN", {}).run.exitCode);
    const std::vector<std::wstring> logs = p.MachineLogs();
    EXPECT_EQ(20u, logs.size());
    EXPECT_EQ(logs.end(), std::find(logs.begin(), logs.end(), first)) << "the first run's log is left";
}

// A check (/C) reads and changes nothing: no child, no cache, no carry-over,
// nothing in the product folder but the log, no record of a run.
Step CheckedWithoutAChange(DWORD exitCode, std::wstring result, Step machine)
{
    return [=](Product& p) {
        machine(p);
        EXPECT_EQ(std::to_wstring(exitCode), testbed::ReadRunRecord(L"LastCheckExitCode"));
        EXPECT_EQ(0u, testbed::ReadRunRecord(L"LastCheckResult").find(result)) << testbed::ToBytes(result, CP_UTF8);
        EXPECT_EQ(L"(none)", testbed::ReadRunRecord(L"LastExitCode"));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Product::MachineFolder() + L"\\Package Cache").c_str()));
        EXPECT_EQ(std::vector<std::wstring>(), p.SettingsFolders());
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((p.product + L"*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
            const std::wstring name = found.cFileName;
            EXPECT_TRUE(name == L"." || name == L".." || name == L"devupd.log" || name == L"Inst.Inf" ||
                        name == L"Drivers" || name == p.package || name == testbed::kSetupProgram ||
                        name == L"msiexec.exe" || name == L"regedit.exe" || name == L"net.exe")
                << "made in the product folder: " << testbed::ToBytes(name, CP_UTF8);
        }
        FindClose(search);
    };
}

const std::wstring kCheckNeedsBoth =
    L"Check only: nothing was changed.\nUtility: installed 1.2.9, in the product folder 1.2.10.\nDriver: installed "
    L"1.0.0.1, in the product folder 2.0.0.5.\nA run would install or update them.";

const std::wstring kJapaneseCheckNeedsNothing =
    L"\u78ba\u8a8d\u306e\u307f: \u4f55\u3082\u5909\u66f4\u3057\u3066\u3044\u307e\u305b\u3093\u3002\n"
    L"\u30e6\u30fc\u30c6\u30a3\u30ea\u30c6\u30a3: \u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u6e08\u307f "
    L"1.2.10\u3001\u88fd\u54c1\u30d5\u30a9\u30eb\u30c0 1.2.10\u3002\n"
    L"\u30c9\u30e9\u30a4\u30d0: \u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u6e08\u307f "
    L"2.0.0.5\u3001\u88fd\u54c1\u30d5\u30a9\u30eb\u30c0 2.0.0.5\u3002\n"
    L"\u5b9f\u884c\u3057\u3066\u3082\u5909\u66f4\u306f\u3042\u308a\u307e\u305b\u3093\u3002";

// A deployment tool runs the setup again before Windows has restarted.
void ExpectNoSecondUpdateBeforeTheRestart(Product& p)
{
    EXPECT_EQ(3010u, p.Run(L"/QN", {}).run.exitCode);
    EXPECT_EQ(1u, testbed::ReadNewdevDoubleCalls().size()) << "the driver was updated again";
    EXPECT_TRUE(Logged(p, L"Driver update already done; Windows has not restarted yet"));
    EXPECT_EQ(L"1", testbed::ReadRunRecord(L"RestartDue"));
}
const std::wstring kCachedNew = L"{cache}\\{code}v1.2.10\\{package}";
const std::wstring kRestarted = L"Service zelmsvc restarted";

Step ExpectNoRestartAfterAnUpdateWith(std::wstring flags)
{
    return [flags](Product& p) {
        ExpectNoRestart(p);
        std::vector<std::wstring> calls = testbed::ReadNewdevDoubleCalls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_NE(std::wstring::npos, calls[0].find(L"\t" + flags + L"\t")) << testbed::ToBytes(calls[0], CP_UTF8);
    };
}

// Windows' net ends with 2 on most failures, which would read as "the user
// answered No".
void UseNetThatFails(Product&)
{
    EXPECT_TRUE(testbed::ReplaceSystemProgram(L"net.exe", testbed::TestProgramFolder() + L"planted_program.exe"));
}

void ExpectNetNeverRan(Product&)
{
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((testbed::SystemFolder() + L"\\net.exe.ran").c_str()));
}

// Whether Everyone may write into the folder, as the lab gives it.
bool EveryoneCanChange(const std::wstring& folder)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool can = false;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        can =
            can || (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                    IsWellKnownSid(&ace->SidStart, WinWorldSid) && (ace->Mask & FILE_ADD_FILE) != 0);
    }
    LocalFree(descriptor);
    return can;
}

void LetEveryoneChange(Product& p, const std::wstring& folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)(A;OICI;FA;;;SY)",
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    EXPECT_EQ(ERROR_SUCCESS, SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                                   DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr));
    LocalFree(descriptor);
    EXPECT_TRUE(EveryoneCanChange(folder)) << testbed::ToBytes(folder, CP_UTF8);
    (void)p;
}

// A machine folder that someone without administrator rights made first,
// with a package of theirs in its cache.
void MachineFolderThatEveryoneCanChange(Product& p)
{
    const std::wstring machine = Product::MachineFolder();
    EXPECT_TRUE(SHCreateDirectoryExW(nullptr, (machine + L"\\Package Cache").c_str(), nullptr) == ERROR_SUCCESS);
    LetEveryoneChange(p, machine);
    p.WriteFile(machine + L"\\Package Cache\\planted.msi", "planted");
}

void ExpectInstalledIntoAMachineFolderOfAdministrators(Product& p)
{
    const std::wstring machine = Product::MachineFolder();
    EXPECT_EQ(testbed::kZelmonNewVersion, testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
    EXPECT_FALSE(EveryoneCanChange(machine));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((machine + L"\\Package Cache\\planted.msi").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(p.Expand(kCachedNew).c_str()));
}

// An earlier run's copy of the installed version, a product folder that anyone
// can change, and, while the question is up, someone's package in place of
// the one that was there when the run started.
void PackageReplacedWhileTheQuestionIsUp(Product& p)
{
    const std::wstring earlier = p.Expand(L"{cache}\\{code}v1.2.9\\");
    EXPECT_EQ(ERROR_SUCCESS, SHCreateDirectoryExW(nullptr, earlier.c_str(), nullptr));
    EXPECT_TRUE(testbed::CopyFileTo(testbed::PackagePath(p.utility), earlier + p.utility));
    LetEveryoneChange(p, p.product.substr(0, p.product.size() - 1));
    p.atFirstBox = [](Product& p) {
        EXPECT_TRUE(testbed::CopyFileTo(testbed::PackagePath(Product::EditionPackage(testbed::kZelmonFailInstall)),
                                        p.product + p.package));
    };
}

void ExpectTheConfirmedVersionFromTheCache(Product& p)
{
    ExpectUpgraded(p);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(p.Expand(L"{cache}\\{code}v1.2.9").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(p.Expand(kCachedNew).c_str()));
}

// A service that needs zelmsvc runs, which Windows Installer stops with it;
// net would ask whether to stop it too. (Wine lists no dependents.)
void DependentServiceRuns(Product& p)
{
    EXPECT_TRUE(testbed::StartDependentService(p.AppsFolder() + L"\\ZELMON\\zelmsvc.exe", p.folder + L"dependent\\"));
    UseNetThatFails(p);
}

// The driver service's file holds a version resource without fixed file
// information, and the packaged driver is 2.0.0.5.
void DriverImageWithoutFixedFileInfo(Product& p)
{
    testbed::Controller controller = p.AddController(L"2.0.0.5", L"1.0.0.1");
    const std::wstring image = p.folder + L"vraid.sys";
    EXPECT_TRUE(testbed::CopyFileTo(testbed::TestProgramFolder() + L"no_fixed_info.dll", image));
    EXPECT_TRUE(testbed::SetServiceImagePath(controller.service, image));
    EXPECT_TRUE(testbed::UseNewdevDouble(testbed::NewdevAnswer::Success(false)));
    p.WriteSetupFile("Debug=1\r\n");
}

// A failed installation left the record; then the export goes, or someone
// installs the utility by hand, before the retry.
Step ThenBeforeTheRetry(std::function<void(Product&)> meanwhile, DWORD exitCode, std::wstring logged)
{
    return [meanwhile, exitCode, logged](Product& p) {
        meanwhile(p);
        EXPECT_EQ(exitCode, RunAgainWithASoundPackage(p).run.exitCode);
        EXPECT_TRUE(Logged(p, logged)) << testbed::ToBytes(logged, CP_UTF8);
        EXPECT_EQ(1u, p.SettingsFolders().size()) << "the record is gone";
    };
}

const wchar_t kRunLock[] = L"Global\\VANTIRO RAID Setup";
// Others may wait on it, not release it.
const wchar_t kOnlyWaitingForEveryone[] = L"D:P(A;;0x100000;;;WD)";

const Row kRows[] = {
    // Inst.Inf, options, the OS and the controller.
    R("NoSetupFileEvenQuietBehindABadOption", kNoEntry, nullptr, nullptr, nullptr, nullptr, L"/X -qN",
        {Error(kNoFiles)}, 1, {}, nullptr),
    R(
        "SetupFileOnlyInTheCurrentFolder", kCurrent, nullptr, nullptr, nullptr,
        [](Product& p) { p.WriteSetupFile("Debug=1\r\n", p.current); }, L"", {Error(kNoFiles)}, 1, {}, nullptr),
    R("ArgumentZeroNamesAFolderWithInstInf", kCurrent, nullptr, nullptr, nullptr, ArgumentZeroInTheCurrentFolder, L"",
        {Error(kNoFiles)}, 1, {}, nullptr),
    R("InvalidOptionEndsWithoutABox", kCurrent, nullptr, nullptr, "", nullptr, L"/QN /X", {}, 3,
      {L"Invalid option /X: the run ends"}, [](Product&) { EXPECT_EQ(L"(none)", testbed::ReadRunRecord(L"LastResult")); }),
    R("AcceptedOptionsThenNo", kCurrent, nullptr, L"util.msi", "", nullptr, L"/D -Q /U", {No(kConfirmUtility)}, 2,
        {L"Section=Driver0", L"Device found"}, nullptr),
    R("QuietRunLeavesACurrentDriverAlone", kCurrent, nullptr, nullptr, "", nullptr, L"/qn", {}, 0,
        {L"Already new driver is installed", L"Driver installed(No reboot)"}, InstalledDriver(L"2.0.0.5")),
    R("OsRequirementNotMet", kCurrent, nullptr, nullptr, "OSVER=99.0\r\n", nullptr, L"", {Error(kWrongOs)}, 3,
      {L" does not meet OSVER 99.0"}, nullptr),
    // Without the manifest's word that setup.exe knows Windows 10, Windows would say 6.2.
    R(
        "OsRequirementOfWindows10Met", kCurrent, nullptr, nullptr, "OSVER=10.0\r\n",
        [](Product& p) { p.UseWindowsVersion(L"win10"); }, L"", {No(kConfirmDriver)}, 2, {}, nullptr),
    R("NoController", kAbsent, nullptr, nullptr, "", nullptr, L"", {Error(kNoController)}, 3,
      {L"FindExistingDevice err({id})"},
      Recorded(3, L"Refused, nothing changed: no configured controller is present.", L"", L"",
               ExpectTwentyLogsAfter21Runs)),
    R("ProductFolderThatTakesNoLog", kCurrent, nullptr, nullptr, "", ProductFolderThatTakesNoLog, L"/QN", {}, 0, {},
      ExpectTheMachineLogAlone),
    R(
        "EntryWithoutDeviceId", kNoEntry, nullptr, nullptr, nullptr,
        [](Product& p) { p.WriteFile(p.product + L"Inst.Inf", kEntryWithoutId); }, L"", {Error(kNoFiles)}, 3, {},
        nullptr),
    R("ProductFolderTooLongForTheLogAndTheInf", kNoEntry, nullptr, nullptr, nullptr, MoveProductToTheLongestFolder,
        L"", {Error(kNoFiles)}, 3, {}, ExpectNoLogWhereItDoesNotFit),
    R("JapaneseTextsAndTheFailureNumber", kCurrent, nullptr, L"missing.msi", "", nullptr, L"",
        {Yes(kJapaneseConfirmUtility), Failed(1619, kJapaneseFailed)}, 1619, {}, nullptr),
    R(
        "PlantedDllsAreNeverLoaded", kCurrent, nullptr, L"missing.msi", "", [](Product& p) { p.PlantDlls(); }, L"",
        {Yes(kConfirmUtility), Failed(1619)}, 1619, {}, nullptr),
    R(
        "QuietOnAnInvisibleStationWithoutInstInf", kNoEntry, nullptr, nullptr, nullptr,
        [](Product& p) { p.UseInvisibleDesktop(); }, L"/X -qN", {}, 1, {}, nullptr),
    R(
        "QuietOnAnInvisibleStationWithAFailure", kNoDriver, nullptr, nullptr, "",
        [](Product& p) { p.UseInvisibleDesktop(); }, L"/QN", {}, 87,
        {L"Message box not shown: Installation operation failed.(87)"}, nullptr),

    // The driver.
    R("OutdatedDriverIsUpdated", kOutdated, nullptr, nullptr, "", nullptr, L"",
        {Yes(kConfirmDriver), Ok(kAlreadyInstalled)}, 0,
        {L"Newer version will be installed", L"Driver installed(No reboot)"}, InstalledDriver(L"2.0.0.5")),
    R("MissingDriverServiceFails", kNoDriver, nullptr, nullptr, "", nullptr, L"", {Yes(kConfirmDriver), Failed(87)},
        87, {L"Failed to get ver by reg System\\CurrentControlSet\\Services\\{service}. err=2"}, nullptr),
    R("ImagePathUnderSystemRoot", kOutdated, nullptr, nullptr, "",
        ImagePath(L"\\SystemRoot\\System32\\drivers\\{service}.sys"), L"/QN", {}, 0,
        {L"Current ver = 1.0.0.1 (from {service})"}, nullptr),
    R("ImagePathRelativeToWindows", kOutdated, nullptr, nullptr, "", ImagePath(L"System32\\drivers\\{service}.sys"),
        L"/QN", {}, 0, {L"Current ver = 1.0.0.1 (from {service})"}, nullptr),
    R("ImagePathWithAVariable", kOutdated, nullptr, nullptr, "",
        ImagePath(L"%SystemRoot%\\System32\\drivers\\{service}.sys"), L"/QN", {}, 0,
        {L"Current ver = 1.0.0.1 (from {service})"}, nullptr),
    R("ImagePathInNtForm", kOutdated, nullptr, nullptr, "",
        ImagePath(L"\\??\\{windows}\\system32\\drivers\\{service}.sys"), L"/QN", {}, 0,
        {L"Current ver = 1.0.0.1 (from {service})"}, nullptr),
    // The double sees the progress window from inside the call.
    R("FailedUpdateBehindACentredProgressWindow", kOutdated, nullptr, nullptr, "",
        Newdev(testbed::NewdevAnswer::Failure(0xE0000203)), L"", {Yes(kConfirmDriver), Failed(87)}, 87,
        {L"UpdateDriverForPlugAndPlayDevices err=0xe0000203,Inf={product}Drivers\\{service}\\{service}.inf,DevID={id}"},
        ExpectCentredProgressWindow),
    R("RestartDeclined", kOutdated, nullptr, nullptr, "RestartExitCode=3010\r\n",
        Newdev(testbed::NewdevAnswer::Success(true)), L"", {Yes(kConfirmDriver), No(kRestart)}, 0,
        {L"Driver installed(Need to reboot)"}, ExpectNoRestartAfterAnUpdateWith(L"0x00000001")),
    // Where Windows would ask whether to trust the publisher, a quiet update fails instead.
    R("QuietRunThatNeedsARestart", kOutdated, nullptr, nullptr, "RestartExitCode=3010\r\n",
      Newdev(testbed::NewdevAnswer::Success(true)), L"/QN", {}, 3010, {L"Restart needed, exit code 3010"},
      [](Product& p) {
          ExpectNoRestartAfterAnUpdateWith(L"0x00000005")(p);
          ExpectNoSecondUpdateBeforeTheRestart(p);
      }),
    // 1641 would tell a deployment tool that Windows is restarting already.
    R("QuietRunThatNeedsARestartWithAnotherCode", kOutdated, nullptr, nullptr, "RestartExitCode=1641\r\n",
      Newdev(testbed::NewdevAnswer::Success(true)), L"/QN", {}, 0,
      {L"Driver installed(Need to reboot)", L"RestartExitCode 1641 ignored: only 0 or 3010"}, ExpectNoRestart),
    R("RestartAccepted", kOutdated, nullptr, nullptr, "", Newdev(testbed::NewdevAnswer::Success(true)), L"",
        {Yes(kConfirmDriver), Yes(kRestart)}, 0, {L"Reboot..."},
        [](Product& p) { EXPECT_TRUE(testbed::WaitForFile(p.RestartMarker(), 5000)); }),

    // The utility.
    R("FirstInstallation", kCurrent, nullptr, testbed::kZelmonNew, "", MachineFolderThatEveryoneCanChange, L"",
        {Yes(kConfirmUtility), Ok(kCompleted)}, 0,
        {L"Utility is not installed.({code}) err=1605", L"Set aside {machine}.untrusted-",
         L"CreateProcess succeeded cmd={system}\\msiexec.exe /I \"" + kCachedNew + L"\" REBOOT=ReallySuppress /qn"},
        ExpectInstalledIntoAMachineFolderOfAdministrators),
    R("SameVersionIsLeftAlone", kCurrent, testbed::kZelmonNew, testbed::kZelmonNew, "", nullptr, L"",
      {Yes(kConfirmUtility), Ok(kAlreadyInstalled)}, 0, {L"!UninstallUtil", L"!InstallUtil"},
      Recorded(0, L"Nothing to do: the utility and the driver are up to date.", L"1.2.10", L"2.0.0.5")),
    R("UpgradeCarriesTheSettingsOver", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "", nullptr, L"",
        {Yes(kConfirmUtility), Ok(kCompleted)}, 0,
        {kRegedit + L" /e \"{settings}\" HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc\\Settings", kUninstall,
         L"CreateProcess succeeded cmd={system}\\msiexec.exe /I \"" + kCachedNew +
             L"\" TARGETDIR=\"{apps}\" REBOOT=ReallySuppress /qn",
         kRegedit + L" /s \"{settings}\"", kRestarted},
      Recorded(0, L"The utility was upgraded.", L"1.2.10", L"2.0.0.5", ExpectUpgraded)),
    R("ExpandableUninstallCommand", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallString(L"%SystemRoot%\\system32\\msiexec.exe /X{code}", REG_EXPAND_SZ), L"/QN", {}, 0, {},
        ExpectUpgraded),
    R("UninstallProgramOutsideTheSystemFolders", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallString(L"uninst.exe /X{code}"), L"/QN", {Failed(161)}, 161,
        {L"Failed to execute uninstall cmd(uninst.exe /X{code}) err=161"}, ExpectUntouched),
    R("UninstallProgramByARelativePath", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallString(L"..\\product\\uninst.exe /X{code}"), L"/QN", {Failed(161)}, 161, {}, ExpectUntouched),
    R("FailedRemoval", kCurrent, testbed::kZelmonFailRemoval, testbed::kZelmonNew, "", nullptr, L"",
        {Yes(kConfirmUtility), Failed(1603)}, 1603,
        {L"Uninstall process has failed.err = 1603", L"!InstallUtil", L"!Driver installed"},
        [](Product& p) { EXPECT_EQ(std::vector<std::wstring>(), p.SettingsFolders()); }),
    // Nothing is imported into a product that is not there; the retry finishes.
    R("FailedInstallationAfterTheRemoval", kCurrent, testbed::kZelmonOld, testbed::kZelmonFailInstall, "", nullptr, L"",
      {Yes(kConfirmUtility), Failed(1603)}, 1603,
      {L"!" + kRegedit + L" /s", L"Upgrade record kept in {machine}\\Carry-over\\*: the next run finishes"},
      Recorded(1603, L"Failed with 1603: the utility stage failed, the driver was left alone.", L"", L"2.0.0.5",
               ExpectRemovedThenFinished)),
    R("PackageWithoutVersion", kCurrent, nullptr, testbed::kZelmonNoVersion, "", nullptr, L"/QN", {Failed(1620)},
        1620, {L"MsiViewFetch err=259"}, nullptr),
    R("PackageWithA64CharacterVersion", kCurrent, nullptr, testbed::kZelmonVersion64, "", nullptr, L"/QN",
        {Failed(1620)}, 1620, {L"MsiRecordGetString err=234"}, nullptr),
    // Wine's Windows Installer answers 1627 for a file it cannot open as a package.
    R(
        "FileThatIsNoPackage", kCurrent, nullptr, L"notapackage.msi", "",
        [](Product& p) { p.WriteFile(p.product + p.package, "ZELMON Utility 1.2.10\r\n"); }, L"/QN", {Failed(1627)},
        1627, {}, nullptr),
    R("PackagePathTooLong", kCurrent, nullptr, nullptr, kLongPackageName.c_str(), nullptr, L"/QN", {Failed(206)}, 206,
        {}, nullptr),
    R("UnreadableInstalledVersion", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        DisplayVersionOf32Characters, L"", {Yes(kConfirmUtility), Ok(kAlreadyInstalled)}, 0,
        {L"Installed version unreadable", L"!UninstallUtil"}, nullptr),
    // 2 would read as "the user answered No".
    R("FailedExport", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "", Regedit(L"fail 2", L""), L"/QN",
        {Failed(1603)}, 1603,
        {L"Service settings not saved. err=2", L"Failed with 2, reported as 1603", L"!" + kUninstall},
        ExpectUntouched),
    R("EmptyExport", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "", Regedit(L"empty", L""), L"/QN",
        {Failed(29)}, 29, {L"Service settings not saved. err=29", L"!" + kUninstall}, ExpectUntouched),
    R("FailedImportKeepsTheExport", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "", Regedit(L"", L"fail 6"),
        L"/QN", {Failed(6)}, 6, {L"Service settings kept in {settings}"}, ExpectExportKept),
    R("NoSettingsKeyNothingToCarryOver", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "", DeleteSettingsKey,
        L"/QN", {}, 0, {L"No service settings to carry over", L"!regedit", L"!" + kRestarted}, nullptr),
    // net's 2 would have been the exit code.
    R("ServiceLeftStoppedByThePackage", kCurrent, testbed::kZelmonOld, testbed::kZelmonNoStart, "", UseNetThatFails,
        L"/QN", {}, 0, {kRestarted},
        [](Product& p) {
            EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
            ExpectNetNeverRan(p);
        }),
    // The running service read its settings at its start; the next start fails.
    R(
        "ServiceThatWillNotStart", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        [](Product& p) { EXPECT_TRUE(testbed::WriteSetting(L"MailServer", L"refuse-start", p.UtilityView())); }, L"/QN",
        {Failed(1062)}, 1062, {L"Service zelmsvc is not running"},
        [](Product&) { EXPECT_FALSE(testbed::IsServiceRunning(testbed::kZelmonServiceName)); }),
    R("InstallerRestartAfterTheRemoval", kCurrent, testbed::kZelmonRestartRemoval, testbed::kZelmonNew, "", nullptr,
        L"", {Yes(kConfirmUtility), No(kRestart)}, 0, {}, ExpectUpgraded),
    R("InstallerRestartAfterTheInstallation", kCurrent, testbed::kZelmonOld, testbed::kZelmonRestartInstall, "",
        nullptr, L"", {Yes(kConfirmUtility), No(kRestart)}, 0, {}, ExpectUpgraded),
    R("QuietInstallerRestartWithRestartExitCode", kCurrent, testbed::kZelmonOld, testbed::kZelmonRestartInstall,
        "RestartExitCode=3010\r\n", nullptr, L"/QN", {}, 3010, {L"Restart needed, exit code 3010"}, ExpectUpgraded),
    // One run at a time, and the second run's box, its log line.
    R("SecondRunWhileTheFirstAsks", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "", RunAgainQuietly, L"",
        {Yes(kConfirmUtility), Ok(kCompleted)}, 0, {L"Another setup is running"},
        ExpectUpgradedWithTheDriver),
    R("UnreadableDriverVersionLeavesTheDriverAlone", kNoEntry, nullptr, nullptr, nullptr, UnreadableNewerDriver,
        L"/QN", {Failed(87)}, 87, {L"Failed to get ver by file", L"!Newer version will be installed"},
        InstalledDriver(L"2.0.0.5")),
    R("DeviceIdLongerThanItIsRead", kNoEntry, nullptr, nullptr, nullptr, CutDeviceIdMatchesAPresentDevice, L"",
        {Error(kNoFiles)}, 3, {L"DeviceID too long in section Driver0", L"!Device found"},
        [](Product&) { EXPECT_EQ(std::vector<std::wstring>(), testbed::ReadNewdevDoubleCalls()); }),
    R("ProgramNameInTheLog", kCurrent, nullptr, nullptr, "", nullptr, L"/QN", {}, 0,
      {std::wstring(L"Program name is {product}") + testbed::kSetupProgram, L"VANTIRO RAID Setup 1.",
       std::wstring(L"-bit edition, started ")},
      [](Product& p) {
          std::string bytes;
          EXPECT_TRUE(testbed::ReadFileBytes(p.product + L"devupd.log", &bytes));
          EXPECT_EQ(std::string("\xFF\xFE", 2), bytes.substr(0, 2)) << "no byte-order mark";
      }),
    // msiexec /qn restarts Windows by itself when told nothing else, and ends
    // with 1641: the run then ends at once, without a box.
    R("InstallerRestartingWindowsAfterTheRemoval", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "",
        MsiexecRestartsWindows(L"1641", L""), L"", {Yes(kConfirmUtility)}, 1641,
        {kUninstall, L"Service settings kept in {settings}", L"Windows is restarting (1641)", L"!InstallUtil",
         L"!Newer version will be installed"},
        ExpectRemovedWithTheExportKept),
    R("InstallerRestartingWindowsAfterTheInstallation", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "",
        MsiexecRestartsWindows(L"", L"1641"), L"/QN", {}, 1641,
        {kRegedit + L" /s \"{settings}\"", L"Windows is restarting (1641)", L"!" + kRestarted,
         L"!Newer version will be installed"},
        ExpectInstalledWithTheSettingsBeforeTheRestart),
    // As Windows Installer stores it for a package without ARPNOMODIFY: /I
    // would repair the old version, not remove it.
    R("UninstallStringThatWouldRepair", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallString(L"MsiExec.exe /I{code}", REG_EXPAND_SZ), L"/QN", {}, 0, {kUninstall}, ExpectUpgraded),
    R("UninstallStringThatWouldRepairWithAnOptionKept", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallString(L"{system}\\msiexec.exe /i {code} /norestart", REG_EXPAND_SZ), L"/QN", {}, 0,
        {L"Executed uninstall cmd({system}\\msiexec.exe /X{code} /norestart REBOOT=ReallySuppress /qn)"},
        ExpectUpgraded),
    R("QuotedUninstallProgramInAFolderWithABlank", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallerInAFolderWithABlank(L"\"{product}Vantiro Tools\\uninst.exe\" /X{code}", true), L"/QN", {}, 0,
        {L"Executed uninstall cmd(\"{product}Vantiro Tools\\uninst.exe\" /X{code} /qn)"},
        ExpectUpgradedByTheUninstallerInTheSystemFolder),
    R("UnquotedUninstallProgramInAFolderWithABlank", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallerInAFolderWithABlank(L"{product}Vantiro Tools\\uninst.exe /X{code}", true), L"/QN", {}, 0,
        {L"Executed uninstall cmd(\"{product}Vantiro Tools\\uninst.exe\" /X{code} /qn)"},
        ExpectUpgradedByTheUninstallerInTheSystemFolder),
    R("MissingUninstallProgramInAFolderWithABlank", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallerInAFolderWithABlank(L"{product}Vantiro Tools\\uninst.exe /X{code}", false), L"/QN", {Failed(161)},
        161, {L"Uninstall program not found({product}Vantiro Tools\\uninst.exe)", L"!regedit"}, ExpectUntouched),
    // Another installation keeps Windows Installer busy: the run waits for
    // it before it changes anything.
    R("WindowsInstallerBusyThroughoutTheWait", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew,
        "InstallerWait=2\r\n", HoldWindowsInstaller(INFINITE), L"/QN", {Failed(1618)}, 1618,
        {kWaiting, L"Windows Installer still busy after 2 s err=1618", L"!UninstallUtil", L"!regedit"},
        ExpectUntouchedWithTheDriver),
    R("WindowsInstallerFreeAfterAWait", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "InstallerWait=30\r\n",
        HoldWindowsInstaller(1000), L"", {Yes(kConfirmUtility), Ok(kCompleted)}, 0,
        {kWaiting, L"Windows Installer free after ", kUninstall}, ExpectUpgradedWithTheDriver),
    R("RemovalAnsweredBusyRunsAgain", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "InstallerWait=10\r\n",
        MsiexecFindsAnotherInstallation(L"1618 2", L""), L"/QN", {}, 0,
        {kWaiting, L"Windows Installer free: the command runs again"},
        [](Product& p) {
            ExpectUpgraded(p);
            ExpectMsiexecCallsOfTheRun(4);
        }),
    R("InstallationAnsweredBusyRunsAgain", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew,
        "InstallerWait=10\r\n", MsiexecFindsAnotherInstallation(L"", L"1618 2"), L"/QN", {}, 0,
        {kWaiting, L"Windows Installer free: the command runs again"},
        [](Product& p) {
            ExpectUpgraded(p);
            ExpectMsiexecCallsOfTheRun(4);
        }),
    R("InstallationBusyAfterTheRemovalKeepsTheExport", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew,
        "InstallerWait=3\r\n", MsiexecFindsAnotherInstallation(L"", L"1618"), L"/QN", {Failed(1618)}, 1618,
        {kUninstall, L"Windows Installer still busy after 3 s err=1618", L"Service settings kept in {settings}",
         L"!regedit.exe /s"},
        [](Product& p) {
            EXPECT_FALSE(testbed::ReadUninstallEntry(testbed::kZelmonProductCode).exists);
            InstalledDriver(L"1.0.0.1")(p);
            ExpectRemovedThenFinished(p);
        }),
    // The new version goes to the package's own folder, decided before the
    // removal: msiexec would fail in the old one after the removal.
    R("InstallationDirectoryTooLongForTheNewVersion", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        InstallationDirectoryTooLongToInstallInto, L"/QN", {}, 0,
        {L"Unusable folder({apps}\\d", L"msiexec.exe /I \"" + kCachedNew + L"\" REBOOT=ReallySuppress /qn"},
        [](Product& p) {
            EXPECT_EQ(testbed::kZelmonNewVersion,
                      testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
            EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer", nullptr, p.UtilityView()));
            EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
            EXPECT_EQ(std::vector<std::wstring>(), p.SettingsFolders());
        }),
    // A check changes nothing, starts nothing, and says what a run would do.
    R("CheckOfAMachineThatNeedsBoth", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "", nullptr, L"/C",
      {Information(kCheckNeedsBoth)}, 100, {L"!CreateProcess", L"!Executed", L"!Package cached"},
      CheckedWithoutAChange(100, L"A run would change this machine: utility 1.2.10 (installed 1.2.9)",
                            ExpectUntouchedWithTheDriver)),
    R("CheckOfAMachineThatNeedsNothing", kCurrent, testbed::kZelmonNew, testbed::kZelmonNew, "", nullptr, L"-c /QN",
      {}, 0, {L"!CreateProcess", L"!Executed"},
      CheckedWithoutAChange(0, L"A run would change nothing", InstalledDriver(L"2.0.0.5"))),
    R("JapaneseCheckOfAMachineThatNeedsNothing", kCurrent, testbed::kZelmonNew, testbed::kZelmonNew, "", nullptr,
      L"/C", {Information(kJapaneseCheckNeedsNothing)}, 0, {L"!CreateProcess"},
      CheckedWithoutAChange(0, L"A run would change nothing", InstalledDriver(L"2.0.0.5"))),
    R("CheckWithoutAController", kAbsent, testbed::kZelmonOld, testbed::kZelmonNew, "", nullptr, L"/C",
      {Error(kNoController)}, 3, {L"!CreateProcess"},
      CheckedWithoutAChange(3, L"Refused, nothing changed: no configured controller is present.", ExpectUntouched)),
    // Windows releases a mutex only through a handle that may release it.
    R("WindowsInstallerMutexThatOthersMayNotRelease", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew,
        "InstallerWait=2\r\n", [](Product& p) { p.HoldWindowsInstaller(INFINITE, kOnlyWaitingForEveryone); },
        L"/QN", {}, 0, {L"Windows Installer's mutex not tested err=5", L"!" + kWaiting}, ExpectUpgradedWithTheDriver),
    // A user's program took the run lock's name first.
    R(
        "RunLockTakenByAUser", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "",
        [](Product& p) { p.Squat(kRunLock); }, L"/QN", {}, 0,
        {L"Run lock Global\\VANTIRO RAID Setup is owned by someone who is no administrator"},
        ExpectUpgradedWithTheDriver),
    R(
        "RunLockThatAdministratorsMayNotUse", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "",
        [](Product& p) { p.Squat(kRunLock, kOnlyWaitingForEveryone); }, L"/QN", {}, 0,
        {L"Run lock Global\\VANTIRO RAID Setup not taken err=5"}, ExpectUpgradedWithTheDriver),
    R("DependentServiceRunsAfterTheUpgrade", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        DependentServiceRuns, L"/QN", {}, 0, {kRestarted},
        [](Product& p) {
            ExpectUpgraded(p);
            EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonDependentName));
            ExpectNetNeverRan(p);
        }),
    R("PackageReplacedWhileTheQuestionIsUp", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        PackageReplacedWhileTheQuestionIsUp, L"", {Yes(kConfirmUtility), Ok(kCompleted)}, 0,
        {L"Warning: the product folder can be changed by Everyone", L"Package cached in " + kCachedNew,
         L"Cached package of 1.2.9 removed"},
        ExpectTheConfirmedVersionFromTheCache),
    // Cut, it would run another command.
    R("UninstallStringOf260Characters", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "",
        UninstallString(L"{system}\\msiexec.exe /X{code} /l*v \"{temp}" + std::wstring(260, L'l') + L"\""), L"/QN",
        {Failed(206)}, 206, {L"Uninstall command too long(260 characters or more)", L"!regedit"}, ExpectUntouched),
    // The registry editor says 0 and imports nothing: the key read back tells.
    R("ImportThatWritesNothing", kCurrent, testbed::kZelmonOld, testbed::kZelmonNew, "", Regedit(L"", L"nothing"),
      L"/QN", {Failed(1013)}, 1013, {L"Setting not carried over(\\MailServer)", L"Service settings kept in {settings}"},
      ExpectExportKept),
    R("RecordWhoseExportIsGone", kCurrent, testbed::kZelmonOld, testbed::kZelmonFailInstall, "", nullptr, L"/QN",
      {Failed(1603)}, 1603, {},
      ThenBeforeTheRetry(
          [](Product& p) {
              const std::vector<std::wstring> kept = p.SettingsFolders();
              ASSERT_EQ(1u, kept.size()) << "no record";
              EXPECT_TRUE(DeleteFileW((kept[0] + L"\\zelmsvc.reg").c_str()));
          },
          1392,
          L"Service settings of the upgrade of ")),
    R("UtilityInstalledByHandBeforeTheRetry", kCurrent, testbed::kZelmonOld, testbed::kZelmonFailInstall, "", nullptr,
      L"/QN", {Failed(1603)}, 1603, {},
      ThenBeforeTheRetry([](Product& p) { p.InstallUtility(Product::EditionPackage(testbed::kZelmonNew)); }, 0,
                         L"left unfinished, its record left alone: the utility is installed")),
    R("DriverImageWithoutFixedFileInfo", kNoEntry, nullptr, nullptr, nullptr, DriverImageWithoutFixedFileInfo, L"/QN",
        {Failed(87)}, 87, {L"No fixed file information in {folder}vraid.sys"},
        [](Product&) { EXPECT_EQ(std::vector<std::wstring>(), testbed::ReadNewdevDoubleCalls()); }),
};

// The rows about 64-bit Windows alone, which the x64 lab runs with a 32-bit
// program: setup.exe hands the run over to setup64.exe, or refuses alone;
// setup64.exe carries a 32-bit utility's settings over in its view.
Step StartWithSetupExe(bool besideSetup64)
{
    return [besideSetup64](Product& p) { p.StartWithSetupExe(besideSetup64); };
}

const Row kOn64BitWindowsRows[] = {
    R("HandOver", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "", StartWithSetupExe(true), L"",
      {Yes(kConfirmUtility), Ok(kCompleted)}, 0,
      {L"Handed over to \"{setup64}\"",
       L"msiexec.exe /I \"" + kCachedNew + L"\" TARGETDIR=\"{apps}\" REBOOT=ReallySuppress /qn"},
      ExpectUpgradedWithTheDriver),
    R("HandOverOfAQuietRunThatFails", kOutdated, testbed::kZelmonOld, testbed::kZelmonFailInstall, "",
      StartWithSetupExe(true), L"/QN", {Failed(1603)}, 1603, {L"Handed over to \"{setup64}\" /QN"},
      InstalledDriver(L"1.0.0.1")),
    R("SetupAloneWithAnOldOsRequirement", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "OSVER=5.1\r\n",
      StartWithSetupExe(false), L"", {Error(kWrongOs)}, 3,
      {L"64-bit Windows needs setup64.exe", L"!UninstallUtil", L"!InstallUtil"}, ExpectUntouchedWithTheDriver),
    R("SetupAloneQuiet", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "OSVER=6.1\r\n", StartWithSetupExe(false),
      L"/QN", {}, 3, {L"64-bit Windows needs setup64.exe", L"!UninstallUtil"}, ExpectUntouched),
    // Its package named by MSI alone; the settings stay in WOW6432Node.
    R(
        "Setup64UpgradesA32BitUtility", kCurrent, nullptr, nullptr, "MSI=ZelmonUtility-1.2.10.msi\r\n",
        [](Product& p) {
            p.InstallUtility(testbed::kZelmonOld);
            p.CopyPackage(testbed::kZelmonNew);
        },
        L"/QN", {}, 0,
        {L"msiexec.exe /I \"{cache}\\{code}v1.2.10\\ZelmonUtility-1.2.10.msi\" TARGETDIR=\"{apps}\" "
         L"REBOOT=ReallySuppress /qn"},
        ExpectUpgraded),
    R(
        "HandOverOfAQuietOptionRightAfterTheQuote", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "",
        [](Product& p) {
            p.StartWithSetupExe(true);
            p.noBlankAfterQuote = true;
        },
        L"/QN", {}, 0, {L"Handed over to \"{setup64}\" /QN"}, ExpectUpgradedWithTheDriver),
    // Handed the run, such a copy would hand it on to itself, again and again.
    R(
        "Setup64ThatIsSetupCopied", kOutdated, testbed::kZelmonOld, testbed::kZelmonNew, "",
        [](Product& p) {
            p.StartWithSetupExe(true);
            EXPECT_TRUE(testbed::CopyFileTo(testbed::TestProgramFolder() + L"setup.exe", p.product + L"setup64.exe"));
        },
        L"", {Error(kWrongOs)}, 3,
        {L"setup64.exe is not a 64-bit program", L"!Handed over", L"!Program name is {setup64}"},
        ExpectUntouchedWithTheDriver),
    // Inst.Inf and the log fit; setup64.exe's path does not.
    R(
        "Setup64PathTooLongInAProductFolderOf249Characters", kNoEntry, testbed::kZelmonOld, nullptr, nullptr,
        [](Product& p) {
            p.MoveProduct(249);
            p.StartWithSetupExe(true);
            p.WriteSetupFile("Debug=1\r\n");
        },
        L"", {Failed(206)}, 206, {L"setup64.exe path too long(", L"!Handed over", L"!64-bit Windows needs"},
        ExpectUntouched),
    // A Zelmsvc key of no installed utility in the 64-bit view, beside the x86
    // utility's own in WOW6432Node.
    R(
        "Setup64KeepsToTheViewOfTheUninstallEntry", kCurrent, nullptr, nullptr, "MSI=ZelmonUtility-1.2.10.msi\r\n",
        [](Product& p) {
            p.InstallUtility(testbed::kZelmonOld);
            p.CopyPackage(testbed::kZelmonNew);
            EXPECT_TRUE(testbed::WriteSetting(L"MailServer", L"stray.vantiro.test", KEY_WOW64_64KEY));
        },
        L"/QN", {}, 0,
        {L"Left alone: HKLM\\SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc in the 64-bit registry view",
         L"!No service settings to carry over"},
        [](Product& p) {
            EXPECT_EQ(testbed::kZelmonNewVersion,
                      testbed::ReadUninstallEntry(testbed::kZelmonProductCode).displayVersion);
            EXPECT_EQ(L"mail.vantiro.test", testbed::ReadSetting(L"MailServer", nullptr, KEY_WOW64_32KEY));
            EXPECT_EQ(L"stray.vantiro.test", testbed::ReadSetting(L"MailServer", nullptr, KEY_WOW64_64KEY));
            EXPECT_TRUE(testbed::IsServiceRunning(testbed::kZelmonServiceName));
            EXPECT_EQ(std::vector<std::wstring>(), p.SettingsFolders());
        }),
};

// The guide's one exit-code table holds every number a row ends with, and
// every number in it ends a row, but for those the lab cannot make a run end
// with: msi.dll that does not load (126), a registry editor that hangs for
// five minutes (258).
TEST(Documentation, ExitCodesAsTheRowsEndWith)
{
    std::string guide;
    ASSERT_TRUE(testbed::ReadFileBytes(testbed::TestProgramFolder() + L"deploy.md", &guide));
    const size_t start = guide.find("\n## Exit codes\n");
    const size_t end = guide.find("\n## ", start + 1);
    std::set<DWORD> documented;
    for (size_t at = guide.find("\n| ", start); at < end; at = guide.find("\n| ", at + 1)) {
        const char* cell = guide.c_str() + at + 3;
        if (*cell >= '0' && *cell <= '9')
            documented.insert(strtoul(cell, nullptr, 10));
    }
    // Numbers that stand for a class the table names: the registry editor's
    // (6), Windows Installer's for a file that is no package (1627).
    std::set<DWORD> ended = {1392};
    for (const Row& row : kRows)
        if (row.exitCode != 6 && row.exitCode != 1627)
            ended.insert(row.exitCode);
    for (DWORD code : ended)
        EXPECT_EQ(1u, documented.count(code)) << code << " is not in the guide's table";
    for (DWORD code : documented)
        EXPECT_TRUE(ended.count(code) == 1 || code == 126 || code == 258) << code << " ends no row";
}

class Scenario : public testing::TestWithParam<Row> {};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

// Boxes bear the caption of the user interface's language.
std::wstring Caption()
{
    return GetUserDefaultUILanguage() == 0x411 ? L"VANTIRO RAID \u30bb\u30c3\u30c8\u30a2\u30c3\u30d7"
                                               : L"VANTIRO RAID Setup";
}

void RunRow(const Row& row)
{
    Product p;
    if (row.driver != kNoEntry) {
        p.AddController(L"2.0.0.5",
                        row.driver == kOutdated  ? L"1.0.0.1"
                        : row.driver == kCurrent ? L"2.0.0.5"
                                                 : L"",
                        row.driver != kAbsent);
    }
    if (row.installed != nullptr)
        p.InstallUtility(Product::EditionPackage(row.installed));
    std::string install = row.install != nullptr ? "Debug=1\r\n" + std::string(row.install) : "";
    if (row.package != nullptr) {
        p.package = Product::EditionPackage(row.package);
        if (GetFileAttributesW(testbed::PackagePath(p.package).c_str()) != INVALID_FILE_ATTRIBUTES)
            p.CopyPackage(p.package);
        // A product folder for both editions names both packages; each program takes its own.
        install += "MSI=" + testbed::ToBytes(row.package, CP_ACP) +
                   "\r\nMSI64=" + testbed::ToBytes(Product::X64Package(row.package), CP_ACP) + "\r\n";
    }
    if (row.install != nullptr)
        p.WriteSetupFile(install);
    if (row.prepare)
        row.prepare(p);
    ASSERT_FALSE(testing::Test::HasFatalFailure());
    ASSERT_EQ(std::vector<std::wstring>(), p.problems);

    std::vector<testbed::Answer> answers;
    for (const Box& box : row.boxes)
        answers.push_back(box.press);
    testbed::RunResult result = p.Run(row.arguments, answers);
    EXPECT_EQ(std::vector<std::wstring>(), p.problems);
    EXPECT_EQ(row.exitCode, result.run.exitCode);
    EXPECT_EQ(0u, result.unansweredBoxes);
    EXPECT_EQ(row.boxes.size(), result.boxes.size())
        << (result.boxes.empty() ? std::string("no box") : testbed::ToBytes(result.boxes.back().text, CP_UTF8));
    const bool english = Caption() == L"VANTIRO RAID Setup";
    for (size_t i = 0; i < std::min(row.boxes.size(), result.boxes.size()); ++i) {
        const testbed::BoxSeen& seen = result.boxes[i];
        EXPECT_EQ(Caption(), seen.caption) << "box " << i;
        EXPECT_EQ(row.boxes[i].text, seen.text) << "box " << i;
        EXPECT_STREQ(testbed::IconName(row.boxes[i].icon), testbed::IconName(seen.icon)) << "box " << i;
        if (english) {
            std::vector<std::wstring> buttons = {L"OK"};
            if (row.boxes[i].icon == BoxIcon::Question)
                buttons = {L"Yes", L"No"};
            EXPECT_EQ(buttons, seen.buttons) << "box " << i;
        }
    }
    if (!result.boxes.empty()) {
        EXPECT_TRUE(result.boxes.back().alongside.empty()) << "a window is left beside the last box";
    }
    std::wstring arguments = row.arguments;
    std::transform(arguments.begin(), arguments.end(), arguments.begin(), towupper);
    if (arguments.find(L"QN") != std::wstring::npos) {
        EXPECT_TRUE(result.windows.empty()) << "a window in a quiet run";
    }

    const std::vector<std::wstring> log = p.Log();
    for (const std::wstring& key : row.logged) {
        const bool absent = key[0] == L'!';
        const std::wstring text = p.Expand(absent ? key.substr(1) : key);
        bool found = false;
        for (const std::wstring& line : log)
            found = found || line.find(text) != std::wstring::npos;
        EXPECT_NE(absent, found) << testbed::ToBytes(text, CP_UTF8);
    }
    EXPECT_EQ(std::vector<std::wstring>(), p.PlantedThatRan());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((p.current + L"devupd.log").c_str()));
    if (row.check)
        row.check(p);
    // The run's own account of what it did, for whoever reads the failure.
    if (testing::Test::HasFailure()) {
        for (const std::wstring& line : log)
            testbed::PrintLine(L"log: " + line);
    }
}

std::string RowName(const testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

TEST_P(Scenario, Run)
{
    RunRow(GetParam());
}
INSTANTIATE_TEST_SUITE_P(Rows, Scenario, testing::ValuesIn(kRows), RowName);
#ifdef _WIN64
class On64BitWindows : public Scenario {};

// Where the machine runs no 32-bit program, scripts/test.sh says why in LAB_NO_32BIT.
TEST_P(On64BitWindows, Run)
{
    wchar_t reason[512] = L"";
    DWORD length = GetEnvironmentVariableW(L"LAB_NO_32BIT", reason, ARRAYSIZE(reason));
    if (length > 0 && length < ARRAYSIZE(reason))
        GTEST_SKIP() << "not run: it needs a 32-bit program, and " << testbed::ToBytes(reason, CP_UTF8);
    RunRow(GetParam());
}
INSTANTIATE_TEST_SUITE_P(Wow64, On64BitWindows, testing::ValuesIn(kOn64BitWindowsRows), RowName);
#endif

}  // namespace
