#include "scenario.h"

#include <algorithm>

#include "driver_bed.h"

const wchar_t kCaption[] = L"VANTIRO RAID Setup";
const wchar_t kCaptionJapanese[] = L"VANTIRO RAID \u30bb\u30c3\u30c8\u30a2\u30c3\u30d7";
const wchar_t kConfirmUtility[] = L"Are you sure you want to install VANTIRO RAID utility?";
const wchar_t kConfirmDriver[] = L"Are you sure you want to update VANTIRO RAID driver?";
const wchar_t kAlreadyInstalled[] = L"New version of this product is already installed ";
const wchar_t kCompleted[] = L"VANTIRO RAID Utility has been successfully installed.";
const wchar_t kNoFiles[] = L"No files found.";
const wchar_t kNoController[] = L"You cannot install the software on your computer.";
const wchar_t kWrongOs[] = L"You cannot install the software on your OS.";
const wchar_t kFailed87[] = L"Installation operation failed.(87)";
const wchar_t kRestart[] =
    L"The RAID driver has been updated. You must reboot your computer to enable this software. \n"
    L"Do you want to restart your computer now?";

namespace {

const DWORD kRunTimeoutMs = 60000;

}  // namespace

void Scenario::SetUp()
{
    folder_ = testbed::MakeTempFolder(L"scenario");
    ASSERT_FALSE(folder_.empty());
    if (folder_.back() != L'\\') {
        folder_ += L'\\';
    }
    ASSERT_TRUE(CreateDirectoryW(ProductFolder().c_str(), NULL));
    ASSERT_TRUE(testbed::CopyFileTo(TestProgramFolder() + L"setup.exe", SetupExe()));
}

void Scenario::AddSetup64()
{
    ASSERT_TRUE(testbed::CopyFileTo(TestProgramFolder() + L"setup64.exe", Setup64Exe()));
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

void Scenario::TearDown()
{
    for (const Entry& entry : entries_) {
        testbed::UninstallDriver(entry.service);
    }
    for (const std::wstring& device : devices_) {
        testbed::RemoveDevice(device);
    }
    testbed::DeleteTree(folder_);
}

void Scenario::WriteProductFile(const std::wstring& name, const std::string& text)
{
    ASSERT_TRUE(testbed::WriteFileBytes(ProductFolder() + name, text));
}

std::wstring Scenario::NewHardwareId()
{
    static int counter = 0;
    return L"PCI\\VEN_5A4D&DEV_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}

void Scenario::AddController(const std::wstring& hardwareId)
{
    std::wstring instance;
    ASSERT_TRUE(testbed::CreateRootDevice(hardwareId, &instance));
    devices_.push_back(instance);
}

std::wstring Scenario::Sys(const std::wstring& version)
{
    return TestProgramFolder() + L"drivers\\" + version + L"\\vraid.sys";
}

Entry Scenario::AddEntry(const std::wstring& packagedVersion, bool present)
{
    static int counter = 0;
    Entry entry = {L"vrd" + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++counter),
                   NewHardwareId()};
    if (present) {
        AddController(entry.hardwareId);
    }
    CreateDirectoryW((ProductFolder() + L"Drivers").c_str(), NULL);
    EXPECT_TRUE(testbed::WriteDriverPackage(ProductFolder() + L"Drivers\\" + entry.service, entry.service + L".inf",
                                            entry.service, entry.hardwareId, L"05/01/2024," + packagedVersion,
                                            Sys(packagedVersion)));
    entries_.push_back(entry);
    return entry;
}

void Scenario::InstallDriverVersion(const Entry& entry, const std::wstring& version)
{
    CreateDirectoryW((Folder() + L"installed").c_str(), NULL);
    const std::wstring folder = Folder() + L"installed\\" + entry.service + L"\\";
    ASSERT_TRUE(testbed::WriteDriverPackage(folder, L"old.inf", entry.service, entry.hardwareId,
                                            L"01/01/2020," + version, Sys(version)));
    BOOL reboot = FALSE;
    ASSERT_TRUE(testbed::InstallDriver(entry.hardwareId, folder + L"old.inf", &reboot));
    ASSERT_EQ(version, testbed::ReadInstalledDriverVersion(entry.service));
}

Entry Scenario::AddCurrentController()
{
    Entry entry = AddEntry(L"2.0.0.5");
    InstallDriverVersion(entry, L"2.0.0.5");
    return entry;
}

void Scenario::WriteSetupFile(const std::vector<Entry>& entries, const std::string& install)
{
    std::string text = "[Install]\r\n" + install;
    if (install.find("DriverNum") == std::string::npos) {
        text += "DriverNum=" + std::to_string(entries.size()) + "\r\n";
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        text += "[Driver" + std::to_string(i) + "]\r\nDeviceName=" + Narrow(entries[i].service) +
                "\r\nDeviceID=" + Narrow(entries[i].hardwareId) + "\r\n";
    }
    WriteProductFile(L"Inst.Inf", text);
}

std::wstring Scenario::InfPath(const Entry& entry) const
{
    return ProductFolder() + L"Drivers\\" + entry.service + L"\\" + entry.service + L".inf";
}

std::vector<std::wstring> Scenario::Log() const
{
    std::vector<std::wstring> ids;
    for (const Entry& entry : entries_) {
        ids.push_back(entry.hardwareId);
    }
    return LogMessages(ids);
}

std::vector<std::wstring> Scenario::LogFrom(const std::wstring& start) const
{
    std::vector<std::wstring> log = Log();
    for (size_t i = log.size(); i > 0; --i) {
        if (log[i - 1] == start) {
            return std::vector<std::wstring>(log.begin() + static_cast<long>(i - 1), log.end());
        }
    }
    return std::vector<std::wstring>();
}

std::vector<std::wstring> Scenario::LogTail(size_t count) const
{
    std::vector<std::wstring> log = Log();
    return std::vector<std::wstring>(log.end() - static_cast<long>(std::min(count, log.size())), log.end());
}

testbed::RunResult Scenario::RunSetup(const std::wstring& arguments, const std::vector<testbed::Answer>& answers,
                                      const testbed::Environment& env, const std::wstring& currentDir)
{
    return Run(SetupExe(), arguments, answers, env, currentDir, testbed::Launch());
}

testbed::RunResult Scenario::RunSetup64(const std::wstring& arguments, const std::vector<testbed::Answer>& answers,
                                        const testbed::Environment& env)
{
    return Run(Setup64Exe(), arguments, answers, env, std::wstring(), testbed::Launch());
}

testbed::RunResult Scenario::RunSetupAs(const std::wstring& argument0, const std::wstring& desktop,
                                        const std::wstring& arguments, const std::vector<testbed::Answer>& answers)
{
    testbed::Launch launch;
    launch.applicationName = SetupExe();
    launch.desktop = desktop;
    return Run(argument0.empty() ? SetupExe() : argument0, arguments, answers, testbed::Environment(), std::wstring(),
               launch);
}

testbed::RunResult Scenario::Run(const std::wstring& argument0, const std::wstring& arguments,
                                 const std::vector<testbed::Answer>& answers, const testbed::Environment& env,
                                 const std::wstring& currentDir, const testbed::Launch& launch)
{
    std::wstring command = testbed::QuoteArgument(argument0);
    if (!arguments.empty()) {
        command += L" " + arguments;
    }
    testbed::RunResult result = testbed::RunWithRobot(command, currentDir.empty() ? ProductFolder() : currentDir, env,
                                                      answers, kRunTimeoutMs, testbed::Button::Default, launch);
    EXPECT_TRUE(result.run.started) << "error " << result.run.startError;
    EXPECT_FALSE(result.run.timedOut);
    return result;
}

std::string Scenario::LogBytes() const
{
    std::string bytes;
    testbed::ReadFileBytes(ProductFolder() + L"devupd.log", &bytes);
    return bytes;
}

std::vector<std::wstring> Scenario::LogMessages(const std::vector<std::wstring>& keepIds) const
{
    std::string bytes = LogBytes();
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::vector<std::wstring> messages;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos || end - start < 24) {
            ADD_FAILURE() << "malformed log line at " << start;
            break;
        }
        std::wstring message = text.substr(start + 24, end - start - 24);
        bool otherDevice = message.compare(0, 7, L"Device=") == 0;
        for (const std::wstring& id : keepIds) {
            otherDevice = otherDevice && message != L"Device=" + id + L"\n";
        }
        if (!otherDevice) {
            messages.push_back(message);
        }
        start = end + 2;
    }
    return messages;
}

ExpectedBox YesNoBox(const std::wstring& text)
{
    return {text, testbed::BoxIcon::Question, {L"Yes", L"No"}};
}

ExpectedBox ErrorBox(const std::wstring& text)
{
    return {text, testbed::BoxIcon::Error, {L"OK"}};
}

ExpectedBox PlainBox(const std::wstring& text)
{
    return {text, testbed::BoxIcon::None, {L"OK"}};
}

void ExpectBoxes(const testbed::RunResult& result, const std::vector<ExpectedBox>& expected,
                 const std::wstring& caption)
{
    EXPECT_EQ(0u, result.unansweredBoxes) << "a box came that the user did not expect";
    ASSERT_EQ(expected.size(), result.boxes.size())
        << (result.boxes.empty() ? std::string("no box") : testing::PrintToString(result.boxes.back().text));
    for (size_t i = 0; i < expected.size(); ++i) {
        const testbed::BoxSeen& seen = result.boxes[i];
        EXPECT_EQ(caption, seen.caption) << "box " << i;
        EXPECT_EQ(expected[i].text, seen.text) << "box " << i;
        EXPECT_STREQ(testbed::IconName(expected[i].icon), testbed::IconName(seen.icon)) << "box " << i;
        if (!expected[i].buttons.empty()) {
            EXPECT_EQ(expected[i].buttons, seen.buttons) << "box " << i;
        }
    }
}
