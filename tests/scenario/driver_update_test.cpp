#include <string>
#include <vector>

#include "driver_bed.h"
#include "scenario.h"

namespace {

using testbed::Answer;
using testbed::Button;

class DriverUpdate : public Scenario {
protected:
    // An older driver in place, a newer one packaged, a driver update that
    // asks for a restart, and the file that appears when Windows is asked to
    // restart (Wine runs the machine's RunOnce commands then). Empty on failure.
    std::wstring RestartMarker()
    {
        restartEntry_ = AddEntry(L"2.0.0.5");
        InstallDriverVersion(restartEntry_, L"1.0.0.1");
        WriteSetupFile({restartEntry_});
        const std::wstring marker = Folder() + L"restarted.txt";
        bool ready = !HasFatalFailure() && testbed::UseNewdevDouble(testbed::NewdevAnswer::Success(true)) &&
                     testbed::PlantRestartMarker(marker);
        return ready ? marker : std::wstring();
    }

    void TearDown() override
    {
        testbed::StopUsingNewdevDouble();
        Scenario::TearDown();
    }

    Entry restartEntry_;
};

TEST_F(DriverUpdate, InstallsTheNewerPackagedDriver)
{
    Entry entry = AddEntry(L"2.0.0.5");
    InstallDriverVersion(entry, L"1.0.0.1");
    WriteSetupFile({entry});

    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmDriver), PlainBox(kAlreadyInstalled)});
    EXPECT_EQ(L"2.0.0.5", testbed::ReadInstalledDriverVersion(entry.service));

    const std::vector<std::wstring> expected = {
        L"Section=Driver0",
        L"Inf name=" + InfPath(entry),
        L"Device ID=" + entry.hardwareId,
        L"Device=" + entry.hardwareId + L"\n",
        L"Device found\n",
        L"New ver = 2.0.0.5 (from " + InfPath(entry) + L")",
        L"Current ver = 1.0.0.1 (from " + entry.service + L")",
        L"Current Ver = 1.0.0.1",
        L"New Ver = 2.0.0.5",
        L"Newer version will be installed",
        L"Driver Installed successfully.\n",
        L"Driver installed(No reboot)",
    };
    // The update pass starts with the second "Section=Driver0".
    EXPECT_EQ(expected, LogTail(expected.size()));
}

TEST_F(DriverUpdate, LeavesACurrentDriverAlone)
{
    Entry entry = AddEntry(L"2.0.0.5");
    InstallDriverVersion(entry, L"2.0.0.5");
    WriteSetupFile({entry});
    ASSERT_TRUE(testbed::UseNewdevDouble(testbed::NewdevAnswer::Success(false)));

    testbed::RunResult result = RunSetup(L"/QN", {});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {});
    EXPECT_TRUE(testbed::ReadNewdevDoubleCalls().empty());
    std::vector<std::wstring> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(L"Already new driver is installed", log[log.size() - 2]);
    EXPECT_EQ(L"Driver installed(No reboot)", log.back());
}

TEST_F(DriverUpdate, UnreadableInstalledVersionOnTheLastEntryFailsWith87)
{
    struct Case {
        const char* name;
        bool (*spoil)(const std::wstring& service);
        std::wstring reason;  // the log line before "Failed to install driver", empty: none
    };
    Entry entry = AddEntry(L"2.0.0.5");
    const Case cases[] = {
        {"no ImagePath", testbed::DeleteServiceImagePath, L""},
        {"no service key", testbed::DeleteServiceKey,
         L"Failed to get ver by reg System\\CurrentControlSet\\Services\\" + entry.service + L". err=2"},
    };
    WriteSetupFile({entry});
    for (const Case& c : cases) {
        InstallDriverVersion(entry, L"1.0.0.1");
        ASSERT_TRUE(c.spoil(entry.service));
        testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
        EXPECT_EQ(87u, result.run.exitCode) << c.name;
        ExpectBoxes(result, {YesNoBox(kConfirmDriver), ErrorBox(kFailed87)});
        std::vector<std::wstring> tail = LogFrom(L"New ver = 2.0.0.5 (from " + InfPath(entry) + L")");
        std::vector<std::wstring> expected = {L"New ver = 2.0.0.5 (from " + InfPath(entry) + L")"};
        if (!c.reason.empty()) {
            expected.push_back(c.reason);
        }
        expected.push_back(L"Failed to install driver");
        EXPECT_EQ(expected, tail) << c.name;
        testbed::UninstallDriver(entry.service);
        DeleteFileW((ProductFolder() + L"devupd.log").c_str());
    }
}

TEST_F(DriverUpdate, HandlesTheFirstPresentEntryOnly)
{
    Entry absent = AddEntry(L"2.0.0.5", false);
    Entry first = AddEntry(L"2.0.0.5");
    Entry second = AddEntry(L"2.0.0.5");
    InstallDriverVersion(first, L"1.0.0.1");
    InstallDriverVersion(second, L"1.0.0.1");
    WriteSetupFile({absent, first, second});

    testbed::RunResult result = RunSetup(L"/QN", {});
    EXPECT_EQ(0u, result.run.exitCode);
    EXPECT_EQ(L"2.0.0.5", testbed::ReadInstalledDriverVersion(first.service));
    EXPECT_EQ(L"1.0.0.1", testbed::ReadInstalledDriverVersion(second.service));
    std::vector<std::wstring> tail = LogFrom(L"FindExistingDevice err(" + absent.hardwareId + L")");
    ASSERT_GE(tail.size(), 2u);
    EXPECT_EQ(L"Failed to install driver", tail[1]) << "entry 0 of the update pass";
    EXPECT_EQ(L"Driver installed(No reboot)", Log().back());
}

TEST_F(DriverUpdate, MissingEntrySectionEndsThePassWithThree)
{
    Entry entry = AddEntry(L"2.0.0.5");
    InstallDriverVersion(entry, L"1.0.0.1");
    ASSERT_TRUE(testbed::DeleteServiceImagePath(entry.service));
    WriteSetupFile({entry}, "Debug=1\r\nDriverNum=3\r\n");

    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(87u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmDriver), ErrorBox(kFailed87)});
    const std::vector<std::wstring> expected = {
        L"Failed to install driver",
        L"Section=Driver1",
        L"No items in section Install of " + ProductFolder() + L"Inst.Inf",
        L"No device defined in ini file(1)",
    };
    EXPECT_EQ(expected, LogTail(expected.size()));
}

TEST_F(DriverUpdate, FailedUpdateIsReportedWithItsError)
{
    Entry entry = AddEntry(L"2.0.0.5");
    InstallDriverVersion(entry, L"1.0.0.1");
    WriteSetupFile({entry});
    ASSERT_TRUE(testbed::UseNewdevDouble(testbed::NewdevAnswer::Failure(0xE0000203)));

    testbed::RunResult result = RunSetup(L"/QN", {Answer(Button::Ok)});
    EXPECT_EQ(87u, result.run.exitCode);
    ExpectBoxes(result, {ErrorBox(kFailed87)});
    std::vector<std::wstring> calls = testbed::ReadNewdevDoubleCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(
        L"UpdateDriverForPlugAndPlayDevicesW\t" + entry.hardwareId + L"\t" + InfPath(entry) + L"\t0x00000001\treboot",
        calls[0].substr(0, calls[0].find(L"\twindow")));
    std::vector<std::wstring> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(L"UpdateDriverForPlugAndPlayDevices err=0xe0000203,Inf=" + InfPath(entry) + L",DevID=" + entry.hardwareId,
              log[log.size() - 2]);
    EXPECT_EQ(L"Failed to install driver", log.back());
}

TEST_F(DriverUpdate, RestartIsOfferedAndDeclinedOrSkippedWhenQuiet)
{
    const std::wstring marker = RestartMarker();
    ASSERT_FALSE(marker.empty());

    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::No)});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmDriver), YesNoBox(kRestart)});
    std::vector<std::wstring> log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(L"Driver Installed successfully.\n", log[log.size() - 3]);
    EXPECT_EQ(L"(Reboot Required)\n", log[log.size() - 2]);
    EXPECT_EQ(L"Driver installed(Need to reboot)", log.back());

    result = RunSetup(L"/QN", {});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {});
    EXPECT_EQ(L"Driver installed(Need to reboot)", Log().back());
    EXPECT_FALSE(testbed::WaitForFile(marker, 2000)) << "no restart was asked for";
    testbed::RemoveRestartMarker();
}

// A deployment tool learns of the restart from the exit code it was told.
TEST_F(DriverUpdate, RestartExitCodeEndsAQuietRunThatNeedsARestart)
{
    const std::wstring marker = RestartMarker();
    ASSERT_FALSE(marker.empty());
    struct Case {
        const char* install;
        const wchar_t* arguments;
        std::vector<Answer> answers;
        DWORD exitCode;
    };
    const Case cases[] = {
        {"Debug=1\r\nRestartExitCode=3010\r\n", L"/QN", {}, 3010},
        {"Debug=1\r\nRestartExitCode=0\r\n", L"/QN", {}, 0},
        {"Debug=1\r\nRestartExitCode=3010\r\n", L"", {Answer(Button::Yes), Answer(Button::No)}, 0},
    };
    for (const Case& c : cases) {
        WriteSetupFile({restartEntry_}, c.install);
        testbed::RunResult result = RunSetup(c.arguments, c.answers);
        EXPECT_EQ(c.exitCode, result.run.exitCode) << c.install;
        EXPECT_EQ(c.exitCode == 0 ? L"Driver installed(Need to reboot)" : L"Restart needed, exit code 3010",
                  Log().back())
            << c.install;
    }
    EXPECT_FALSE(testbed::WaitForFile(marker, 2000)) << "no restart was asked for";
    testbed::RemoveRestartMarker();
}

}  // namespace

namespace {

TEST_F(DriverUpdate, ReadsTheInstalledVersionWhereverImagePathPointsAsWindowsWritesIt)
{
    Entry entry = AddEntry(L"2.0.0.5");
    WriteSetupFile({entry});
    ASSERT_TRUE(testbed::UseNewdevDouble(testbed::NewdevAnswer::Success(false)));
    const std::wstring file = entry.service + L".sys";
    wchar_t windows[MAX_PATH] = L"";
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring forms[] = {
        L"\\SystemRoot\\System32\\drivers\\" + file,
        L"System32\\drivers\\" + file,
        L"%SystemRoot%\\System32\\drivers\\" + file,
        L"\\??\\" + std::wstring(windows) + L"\\system32\\drivers\\" + file,
    };
    for (const std::wstring& form : forms) {
        InstallDriverVersion(entry, L"1.0.0.1");
        ASSERT_TRUE(testbed::SetServiceImagePath(entry.service, form));
        testbed::RunResult result = RunSetup(L"/QN", {});
        EXPECT_EQ(0u, result.run.exitCode) << testing::PrintToString(form);
        EXPECT_FALSE(LogFrom(L"Current ver = 1.0.0.1 (from " + entry.service + L")").empty())
            << testing::PrintToString(form);
        EXPECT_EQ(L"Driver installed(No reboot)", Log().back()) << testing::PrintToString(form);
        DeleteFileW((ProductFolder() + L"devupd.log").c_str());
        testbed::UninstallDriver(entry.service);
    }
}

}  // namespace

namespace {

// "window=left,top,right,bottom:text" parts of a double's call line.
std::vector<std::wstring> WindowsDuringCall(const std::wstring& call)
{
    std::vector<std::wstring> windows;
    for (size_t at = call.find(L"\twindow="); at != std::wstring::npos; at = call.find(L"\twindow=", at + 1)) {
        size_t end = call.find(L'\t', at + 1);
        windows.push_back(call.substr(at + 8, end == std::wstring::npos ? std::wstring::npos : end - at - 8));
    }
    return windows;
}

TEST_F(DriverUpdate, ProgressWindowIsCentredWhileAnEntryIsHandledAndGoneAfterwards)
{
    Entry first = AddEntry(L"2.0.0.5");
    Entry second = AddEntry(L"2.0.0.5");
    InstallDriverVersion(first, L"1.0.0.1");
    InstallDriverVersion(second, L"1.0.0.1");
    WriteSetupFile({first, second});
    ASSERT_TRUE(testbed::UseNewdevDouble(testbed::NewdevAnswer::Failure(ERROR_FILE_NOT_FOUND)));

    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)});
    EXPECT_EQ(87u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmDriver), ErrorBox(kFailed87)});

    // 186 x 42 dialog units; the position is integer arithmetic on the screen size.
    std::vector<std::wstring> calls = testbed::ReadNewdevDoubleCalls();
    ASSERT_EQ(2u, calls.size());
    for (const std::wstring& call : calls) {
        std::vector<std::wstring> windows = WindowsDuringCall(call);
        ASSERT_EQ(1u, windows.size()) << "one progress window per entry: " << testing::PrintToString(call);
        long left = 0, top = 0, right = 0, bottom = 0;
        ASSERT_EQ(4, swscanf(windows[0].c_str(), L"%ld,%ld,%ld,%ld", &left, &top, &right, &bottom));
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN) / 2 - (right - left) / 2, left);
        EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN) / 2 - (bottom - top) / 2, top);
        EXPECT_EQ(L"Updating VANTIRO RAID Driver...", windows[0].substr(windows[0].find(L':') + 1));
    }
    EXPECT_TRUE(result.boxes.back().alongside.empty()) << "a window is still there beside the last box";

    result = RunSetup(L"/QN", {Answer(Button::Ok)});
    calls = testbed::ReadNewdevDoubleCalls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_TRUE(WindowsDuringCall(calls[2]).empty()) << "no progress window in quiet mode";
    EXPECT_TRUE(result.windows.empty());
}

TEST_F(DriverUpdate, YesToTheRestartQuestionRestartsWindows)
{
    const std::wstring marker = RestartMarker();
    ASSERT_FALSE(marker.empty());

    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Yes)});
    EXPECT_EQ(0u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmDriver), YesNoBox(kRestart)});
    EXPECT_TRUE(testbed::WaitForFile(marker, 5000));
    testbed::RemoveRestartMarker();
    EXPECT_EQ(L"Reboot...", Log().back());
}

}  // namespace
