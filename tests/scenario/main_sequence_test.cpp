#include <string>
#include <vector>

#include "scenario.h"

namespace {

using testbed::Answer;
using testbed::Button;

// Inst.Inf for one controller entry; install lines go to [Install].
std::string SetupFile(const std::wstring& hardwareId, const std::string& install = "Debug=1\r\nMSI=util.msi\r\n")
{
    return "[Install]\r\n" + install +
           "DriverNum=1\r\n[Driver0]\r\nDeviceName=vraid\r\nDeviceID=" + Narrow(hardwareId) + "\r\n";
}

class MainSequence : public Scenario {
protected:
    // A product folder whose controller is present with a current driver.
    Entry PrepareController(const std::string& install = "Debug=1\r\nMSI=util.msi\r\n")
    {
        Entry entry = AddCurrentController();
        WriteSetupFile({entry}, install);
        return entry;
    }
};

TEST_F(MainSequence, WithoutSetupFileShowsNoFilesEvenWhenQuietOrGivenABadOption)
{
    for (const wchar_t* arguments : {L"", L"/QN", L"/X", L"/X -qN"}) {
        testbed::RunResult result = RunSetup(arguments, {Answer(Button::Ok)});
        EXPECT_EQ(1u, result.run.exitCode) << testing::PrintToString(arguments);
        ExpectBoxes(result, {ErrorBox(kNoFiles)});
    }
}

TEST_F(MainSequence, SetupFileInTheCurrentFolderDoesNotCount)
{
    std::wstring id = NewHardwareId();
    AddController(id);
    ASSERT_TRUE(testbed::WriteFileBytes(Folder() + L"Inst.Inf", SetupFile(id)));
    testbed::RunResult result = RunSetup(L"", {Answer(Button::Ok)}, testbed::Environment(), Folder());
    EXPECT_EQ(1u, result.run.exitCode);
    ExpectBoxes(result, {ErrorBox(kNoFiles)});
}

// The caller chooses argument 0: a user without administrator rights can start
// the real, elevated setup.exe with argument 0 in a folder of their own.
struct ArgumentZeroCase {
    const char* name;
    bool setupFileInProduct;  // else only in the folder argument 0 names
    std::vector<Answer> answers;
    DWORD exitCode;
    std::vector<ExpectedBox> boxes;
};

TEST_F(MainSequence, ProductFolderIsThatOfTheProgramFileNotOfArgumentZero)
{
    PrepareController("Debug=1\r\nMSI=\r\n");
    std::string setupFile;
    ASSERT_TRUE(testbed::ReadFileBytes(ProductFolder() + L"Inst.Inf", &setupFile));
    const std::wstring other = Folder() + L"other\\";
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), NULL));
    const ArgumentZeroCase cases[] = {
        {"Inst.Inf only where argument 0 points", false, {Answer(Button::Ok)}, 1, {ErrorBox(kNoFiles)}},
        {"Inst.Inf only beside the program file",
         true,
         {Answer(Button::Yes), Answer(Button::Ok)},
         0,
         {YesNoBox(kConfirmDriver), PlainBox(kAlreadyInstalled)}},
    };
    for (const ArgumentZeroCase& c : cases) {
        DeleteFileW((ProductFolder() + L"Inst.Inf").c_str());
        DeleteFileW((other + L"Inst.Inf").c_str());
        DeleteFileW((ProductFolder() + L"devupd.log").c_str());
        ASSERT_TRUE(testbed::WriteFileBytes((c.setupFileInProduct ? ProductFolder() : other) + L"Inst.Inf", setupFile));
        testbed::RunResult result = RunSetupAs(other + L"setup.exe", std::wstring(), L"", c.answers);
        EXPECT_EQ(c.exitCode, result.run.exitCode) << c.name;
        ExpectBoxes(result, c.boxes);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((other + L"devupd.log").c_str())) << c.name;
        EXPECT_EQ(c.setupFileInProduct, !LogBytes().empty()) << c.name;
    }
}

TEST_F(MainSequence, InvalidOptionEndsWithThreeAndNoBox)
{
    PrepareController();
    for (const wchar_t* arguments :
         {L"/d", L"/u", L"/", L"-", L"\"\"", L"QN", L"/X", L"readme.txt", L"/QN /X", L"/X /QN", L"/D \\QN"}) {
        testbed::RunResult result = RunSetup(arguments, {});
        EXPECT_EQ(3u, result.run.exitCode) << testing::PrintToString(arguments);
        ExpectBoxes(result, {});
    }
    EXPECT_TRUE(LogBytes().empty()) << "an invalid option ends the run before anything is logged";
}

TEST_F(MainSequence, AcceptedOptionsGoOnToTheQuestion)
{
    PrepareController();
    for (const wchar_t* arguments : {L"/D", L"-D", L"/U", L"/Uxyz", L"/Q", L"/q", L"/Qx", L"/D /U -Q"}) {
        testbed::RunResult result = RunSetup(arguments, {Answer(Button::No)});
        EXPECT_EQ(2u, result.run.exitCode) << testing::PrintToString(arguments);
        ExpectBoxes(result, {YesNoBox(kConfirmUtility)});
    }
}

TEST_F(MainSequence, QuietOptionsAnswerYesWithoutAnyBox)
{
    PrepareController("Debug=1\r\nMSI=\r\n");
    for (const wchar_t* arguments : {L"/QN", L"/qn", L"-Qn", L"/QNX", L"/D /qN /U"}) {
        testbed::RunResult result = RunSetup(arguments, {});
        EXPECT_EQ(0u, result.run.exitCode) << testing::PrintToString(arguments);
        ExpectBoxes(result, {});
    }
}

TEST_F(MainSequence, UnmetOsRequirementRefusesTheRun)
{
    PrepareController("OSVER=99.0\r\nMSI=util.msi\r\n");
    testbed::RunResult result = RunSetup(L"", {Answer(Button::Ok)});
    EXPECT_EQ(3u, result.run.exitCode);
    ExpectBoxes(result, {ErrorBox(kWrongOs)});

    result = RunSetup(L"/QN", {});
    EXPECT_EQ(3u, result.run.exitCode);
    ExpectBoxes(result, {});
}

TEST_F(MainSequence, MetOsRequirementGoesOn)
{
    PrepareController("OSVER=5.1\r\nMSI=util.msi\r\n");
    testbed::RunResult result = RunSetup(L"", {Answer(Button::No)});
    EXPECT_EQ(2u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility)});
}

struct DetectCase {
    const char* name;
    std::string setupFile;
    const wchar_t* text;
};

TEST_F(MainSequence, FailedDetectionTellsWhy)
{
    std::wstring absent = NewHardwareId();
    const DetectCase cases[] = {
        {"no controller", SetupFile(absent), kNoController},
        {"DriverNum=0", "[Install]\r\nDriverNum=0\r\n[Driver0]\r\nDeviceName=vraid\r\nDeviceID=X\r\n", kNoController},
        {"entry without DeviceID", "[Install]\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vraid\r\n", kNoFiles},
        {"more entries than sections",
         "[Driver0]\r\nDeviceName=a\r\nDeviceID=" + Narrow(absent) +
             "\r\n[Driver1]\r\nDeviceName=b\r\nDeviceID=" + Narrow(absent) + "\r\n",
         kNoFiles},
    };
    for (const DetectCase& c : cases) {
        WriteProductFile(L"Inst.Inf", c.setupFile);
        testbed::RunResult result = RunSetup(L"", {Answer(Button::Ok)});
        EXPECT_EQ(3u, result.run.exitCode) << c.name;
        ExpectBoxes(result, {ErrorBox(c.text)});
    }
}

TEST_F(MainSequence, QuestionNamesTheUtilityOrOnlyTheDriver)
{
    Entry entry = AddCurrentController();
    struct Case {
        std::string install;
        const wchar_t* question;
    };
    const Case cases[] = {
        {"MSI=util.msi\r\n", kConfirmUtility},
        {"MSI=\r\n", kConfirmDriver},
        {"", kConfirmDriver},
    };
    for (const Case& c : cases) {
        WriteSetupFile({entry}, c.install);
        testbed::RunResult result = RunSetup(L"", {Answer(Button::No)});
        EXPECT_EQ(2u, result.run.exitCode) << c.install;
        ExpectBoxes(result, {YesNoBox(c.question)});
    }
}

TEST_F(MainSequence, NoToTheQuestionEndsWithTwo)
{
    PrepareController();
    testbed::RunResult result = RunSetup(L"", {Answer(Button::No)});
    EXPECT_EQ(2u, result.run.exitCode);
    ExpectBoxes(result, {YesNoBox(kConfirmUtility)});
}

TEST_F(MainSequence, LogLandsBesideTheProgramWhenStartedFromElsewhere)
{
    std::wstring absent = NewHardwareId();
    std::wstring id = NewHardwareId();
    AddController(id);
    WriteProductFile(L"Inst.Inf",
                     "[Install]\r\nDebug=1\r\nMSI=util.msi\r\nDriverNum=2\r\n[Driver0]\r\nDeviceName=a\r\n"
                     "DeviceID=" +
                         Narrow(absent) + "\r\n[Driver1]\r\nDeviceName=b\r\nDeviceID=" + Narrow(id) +
                         "\r\n[b]\r\nInf=drv\\b.inf\r\n");
    ASSERT_TRUE(CreateDirectoryW((Folder() + L"elsewhere").c_str(), NULL));
    testbed::RunResult result = RunSetup(L"", {Answer(Button::No)}, testbed::Environment(), Folder() + L"elsewhere");
    EXPECT_EQ(2u, result.run.exitCode);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Folder() + L"elsewhere\\devupd.log").c_str()));

    std::string bytes = LogBytes();
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_NE(std::string("\xFF\xFE"), bytes.substr(0, 2)) << "no byte-order mark";
    const std::vector<std::wstring> expected = {
        L"Section=Driver0",
        L"Inf name=" + ProductFolder() + L"Drivers\\a\\a.inf",
        L"Device ID=" + absent,
        L"Device=" + id + L"\n",
        L"FindExistingDevice err(" + absent + L")",
        L"Section=Driver1",
        L"Device ID=" + id,
        L"Device=" + id + L"\n",
        L"Device found\n",
        L"Device found",
    };
    EXPECT_EQ(expected, LogMessages({id}));
}

TEST_F(MainSequence, JapaneseUserInterfaceShowsTheJapaneseTexts)
{
    // Runs under a Japanese Unix locale (see the test list); the child inherits it.
    const testbed::Environment japanese;
    // util.msi is missing: Wine's Windows Installer answers 1627.
    PrepareController();
    testbed::RunResult result = RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)}, japanese);
    EXPECT_EQ(1627u, result.run.exitCode);
    ExpectBoxes(result,
                {{L"VANTIRO RAID \u30e6\u30fc\u30c6\u30a3\u30ea\u30c6\u30a3\u306e\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb"
                  L"\u3092\u958b\u59cb\u3057\u307e\u3059\u304b?",
                  testbed::BoxIcon::Question,
                  {}},
                 {L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002(1627)",
                  testbed::BoxIcon::Error,
                  {}}},
                kCaptionJapanese);

    WriteProductFile(L"Inst.Inf", SetupFile(NewHardwareId()));
    result = RunSetup(L"", {Answer(Button::Ok)}, japanese);
    EXPECT_EQ(3u, result.run.exitCode);
    ExpectBoxes(result,
                {{L"\u3053\u306e\u30b3\u30f3\u30d4\u30e5\u30fc\u30bf\u306b\u306f\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb"
                  L"\u3067\u304d\u307e\u305b\u3093\u3002",
                  testbed::BoxIcon::Error,
                  {}}},
                kCaptionJapanese);

    // A controller whose driver service is missing: the update fails, and the
    // failure box shows its number behind the Japanese text.
    WriteSetupFile({AddEntry(L"2.0.0.5")}, "MSI=\r\n");
    result = RunSetup(L"/QN", {Answer(Button::Ok)}, japanese);
    EXPECT_EQ(87u, result.run.exitCode);
    ExpectBoxes(result,
                {{L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002(87)",
                  testbed::BoxIcon::Error,
                  {}}},
                kCaptionJapanese);
}

// A quiet run on a window station that nobody sees, as a deployment system
// runs it in session 0. A box there could be answered by no one and the run
// would be killed at the time limit; none may come, and the log (when on)
// gets its text.
struct InvisibleCase {
    const char* name;
    bool failingDriver;  // else no Inst.Inf at all
    const wchar_t* arguments;
    DWORD exitCode;
    const wchar_t* logged;  // the log's last line; NULL: no log
};

TEST_F(MainSequence, QuietRunOnAnInvisibleWindowStationShowsNoBox)
{
    testbed::InvisibleDesktop desktop;
    ASSERT_FALSE(desktop.Name().empty());
    ASSERT_FALSE(desktop.StationVisible());
    const InvisibleCase cases[] = {
        {"no Inst.Inf", false, L"/QN", 1, NULL},
        {"no Inst.Inf, quiet behind an invalid option", false, L"/X -qN", 1, NULL},
        {"failed driver pass", true, L"/QN", 87, L"Message box not shown: Installation operation failed.(87)"},
    };
    for (const InvisibleCase& c : cases) {
        DeleteFileW((ProductFolder() + L"Inst.Inf").c_str());
        if (c.failingDriver) {
            // A controller whose driver service is missing: the update fails.
            WriteSetupFile({AddEntry(L"2.0.0.5")}, "Debug=1\r\nMSI=\r\n");
        }
        testbed::RunResult result = RunSetupAs(std::wstring(), desktop.Name(), c.arguments, {});
        EXPECT_EQ(c.exitCode, result.run.exitCode) << c.name;
        ExpectBoxes(result, {});
        if (c.logged != NULL) {
            EXPECT_EQ(std::vector<std::wstring>{c.logged}, LogTail(1)) << c.name;
        } else {
            EXPECT_TRUE(LogBytes().empty()) << c.name;
        }
    }
}

}  // namespace
