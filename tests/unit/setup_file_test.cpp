#include <gtest/gtest.h>

#include <string>

#include "driver/driver_pass.h"
#include "config/setup_file.h"
#include "core/setup_state.h"
#include "test_files.h"
#include "testbed.h"

namespace {

struct LocateCase {
    const char* inf;
    int debugEnabled;
    int driverOnly;
};

const LocateCase kLocateCases[] = {
    {"[Install]\r\nMSI=util.msi\r\n", 0, 0},
    {"[Install]\r\nDebug=0\r\nMSI=util.msi\r\n", 0, 0},
    {"[Install]\r\nDebug=no\r\nMSI=util.msi\r\n", 0, 0},
    {"[Install]\r\nDebug=1\r\nMSI=util.msi\r\n", 1, 0},
    {"[Install]\r\nDebug=2\r\nMSI=\r\n", 2, 1},
    {"[Install]\r\nDebug=1\r\n", 1, 1},
    {"", 0, 1},
};

// LocateSetupFile reads Inst.Inf beside the running program: here the test
// program. The file and a log are removed again when the test ends.
class SetupFileBesideTheProgram {
public:
    SetupFileBesideTheProgram() : folder_(testbed::TestProgramFolder()) {}
    ~SetupFileBesideTheProgram()
    {
        DeleteFileW((folder_ + L"Inst.Inf").c_str());
        DeleteFileW((folder_ + L"devupd.log").c_str());
    }
    SetupFileBesideTheProgram(const SetupFileBesideTheProgram&) = delete;
    SetupFileBesideTheProgram& operator=(const SetupFileBesideTheProgram&) = delete;

    const std::wstring& folder() const
    {
        return folder_;
    }
    void Write(const std::string& text) const
    {
        WriteTextFile(folder_ + L"Inst.Inf", text);
    }

private:
    std::wstring folder_;
};

TEST(LocateSetupFile, ReadsTheSwitchesOfInstInfBesideTheProgram)
{
    SetupFileBesideTheProgram setupFile;
    ASSERT_FALSE(setupFile.folder().empty());
    for (const LocateCase& c : kLocateCases) {
        setupFile.Write(c.inf);
        ResetSetupState();
        ASSERT_TRUE(LocateSetupFile()) << c.inf;
        EXPECT_EQ(setupFile.folder(), g_setup.programDirectory);
        EXPECT_EQ(setupFile.folder() + L"Inst.Inf", g_setup.setupFilePath);
        EXPECT_EQ(c.debugEnabled, g_setup.debugEnabled) << c.inf;
        EXPECT_EQ(c.driverOnly, g_setup.driverOnly) << c.inf;
        const std::wstring expectedLog = c.debugEnabled != 0 ? setupFile.folder() + L"devupd.log" : L".\\devupd.log";
        EXPECT_EQ(expectedLog, g_setup.logPath) << c.inf;
    }
    EXPECT_FALSE(FileExists(setupFile.folder() + L"devupd.log")) << "LocateSetupFile logs nothing";
}

TEST(LocateSetupFile, IgnoresInstInfInTheCurrentFolder)
{
    SetupFileBesideTheProgram setupFile;
    TempFolder folder;
    WriteTextFile(folder.file(L"Inst.Inf"), "[Install]\r\nDebug=1\r\nMSI=\r\n");
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(folder.path().c_str());
    ResetSetupState();
    bool withoutOwn = LocateSetupFile();
    const int debugWithoutOwn = g_setup.debugEnabled;
    setupFile.Write("[Install]\r\nMSI=util.msi\r\n");
    ResetSetupState();
    bool withOwn = LocateSetupFile();
    SetCurrentDirectoryW(previous);

    EXPECT_FALSE(withoutOwn);
    EXPECT_EQ(0, debugWithoutOwn);
    ASSERT_TRUE(withOwn);
    EXPECT_EQ(setupFile.folder() + L"Inst.Inf", g_setup.setupFilePath);
    EXPECT_EQ(0, g_setup.debugEnabled);
    EXPECT_EQ(0, g_setup.driverOnly);
}

struct EntryCase {
    const char* inf;
    int result;
    const wchar_t* deviceName;
    const wchar_t* hardwareId;
    const wchar_t* infPathAfterFolder;  // NULL: infPath empty
};

const char kName70[] = "N123456789012345678901234567890123456789012345678901234567890123456789";
const wchar_t kName63[] = L"N12345678901234567890123456789012345678901234567890123456789012";

const EntryCase kEntryCases[] = {
    {"[Driver1]\r\nDeviceName=abc\r\nDeviceID=PCI\\VEN_1&DEV_2\r\n", 0, L"abc", L"PCI\\VEN_1&DEV_2",
     L"Drivers\\abc\\abc.inf"},
    {"[Driver1]\r\nDeviceName=abc\r\nDeviceID=X\r\n[abc]\r\nInf=x\\y.inf\r\n", 0, L"abc", L"X", L"x\\y.inf"},
    {"[Driver1]\r\nDeviceName=abc\r\nDeviceID=X\r\n[abc]\r\nInf=\r\n", 0, L"abc", L"X", L"Drivers\\abc\\abc.inf"},
    {"[Driver1]\r\nDeviceName=abc\r\n", 87, L"abc", L"", L"Drivers\\abc\\abc.inf"},
    {"[Driver1]\r\nDeviceID=X\r\n", 50, L"", NULL, NULL},
    {"[Driver0]\r\nDeviceName=abc\r\nDeviceID=X\r\n", 50, L"", NULL, NULL},
};

TEST(ReadDriverEntry, FillsTheEntryFromItsSection)
{
    TempFolder folder;
    UseProductFolder(folder.path(), 0);
    for (const EntryCase& c : kEntryCases) {
        WriteTextFile(folder.file(L"Inst.Inf"), c.inf);
        DriverEntry entry = {L"", L"", L""};
        EXPECT_EQ(c.result, ReadDriverEntry(g_setup.programDirectory, g_setup.setupFilePath, 1, &entry)) << c.inf;
        EXPECT_STREQ(c.deviceName, entry.deviceName) << c.inf;
        EXPECT_STREQ(c.hardwareId != NULL ? c.hardwareId : L"", entry.hardwareId) << c.inf;
        const std::wstring inf = c.infPathAfterFolder != NULL ? folder.path() + c.infPathAfterFolder : L"";
        EXPECT_EQ(inf, entry.infPath) << c.inf;
    }
}

TEST(ReadDriverEntry, CutsALongDeviceNameAndUsesTheCutName)
{
    TempFolder folder;
    UseProductFolder(folder.path(), 0);
    WriteTextFile(folder.file(L"Inst.Inf"), std::string("[Driver0]\r\nDeviceName=") + kName70 + "\r\nDeviceID=X\r\n");
    DriverEntry entry = {L"", L"", L""};
    EXPECT_EQ(0, ReadDriverEntry(g_setup.programDirectory, g_setup.setupFilePath, 0, &entry));
    EXPECT_STREQ(kName63, entry.deviceName);
    EXPECT_EQ(folder.path() + L"Drivers\\" + kName63 + L"\\" + kName63 + L".inf", entry.infPath);
}

TEST(ReadDriverEntry, RefusesAnInfPathThatDoesNotFit)
{
    TempFolder folder;
    UseProductFolder(folder.path(), 1);
    const std::string longInf(255, 'i');
    WriteTextFile(folder.file(L"Inst.Inf"),
                  "[Driver0]\r\nDeviceName=abc\r\nDeviceID=X\r\n[abc]\r\nInf=" + longInf + "\r\n");
    DriverEntry entry = {L"", L"", L""};
    EXPECT_EQ(87, ReadDriverEntry(g_setup.programDirectory, g_setup.setupFilePath, 0, &entry));
    EXPECT_STREQ(L"", entry.infPath);
    std::string log = ReadFileBytes(folder.file(L"devupd.log"));
    EXPECT_NE(std::string::npos, log.find(Utf16Bytes(L"Inf path too long in section Driver0\r\n")));
}

struct PassCase {
    const char* inf;
    int result;
};

// No device in the prefix carries these IDs.
const PassCase kDetectPassCases[] = {
    {"[Install]\r\nDriverNum=0\r\n[Driver0]\r\nDeviceName=a\r\nDeviceID=NOPE\\A\r\n", 4},
    {"[Install]\r\nDriverNum=-3\r\n", 4},
    {"[Install]\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=a\r\nDeviceID=NOPE\\A\r\n", 4},
    {"[Driver0]\r\nDeviceName=a\r\nDeviceID=NOPE\\A\r\n[Driver1]\r\nDeviceName=b\r\nDeviceID=NOPE\\B\r\n", 3},
    {"[Install]\r\nDriverNum=2\r\n[Driver0]\r\nDeviceName=a\r\n", 3},
};

TEST(RunDriverPass, DetectModeEndsAsTheEntriesSay)
{
    TempFolder folder;
    UseProductFolder(folder.path(), 0);
    for (const PassCase& c : kDetectPassCases) {
        WriteTextFile(folder.file(L"Inst.Inf"), c.inf);
        EXPECT_EQ(c.result, RunDriverPass(kDetectMode)) << c.inf;
    }
}

}  // namespace
