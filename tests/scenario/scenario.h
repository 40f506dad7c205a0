#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testbed.h"

using testbed::TestProgramFolder;

// One controller entry of Inst.Inf: its driver service and hardware ID.
struct Entry {
    std::wstring service;
    std::wstring hardwareId;
};

std::string Narrow(const std::wstring& text);

// A product folder of its own with a copy of the real setup.exe, the devices
// and drivers that a case makes, and a run of setup.exe with the automated user.
class Scenario : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Full path ending in "\".
    std::wstring Folder() const
    {
        return folder_;
    }
    std::wstring ProductFolder() const
    {
        return folder_ + L"product\\";
    }
    std::wstring SetupExe() const
    {
        return ProductFolder() + L"setup.exe";
    }
    // The 64-bit build beside setup.exe, once AddSetup64 has put it there.
    std::wstring Setup64Exe() const
    {
        return ProductFolder() + L"setup64.exe";
    }
    void AddSetup64();

    void WriteProductFile(const std::wstring& name, const std::string& text);
    // A hardware ID that no other case uses.
    std::wstring NewHardwareId();
    // A present root-enumerated device, removed again when the case ends.
    void AddController(const std::wstring& hardwareId);

    // A controller entry whose driver package, at packagedVersion, lies in the
    // product folder's default place; with present, its device is there too.
    Entry AddEntry(const std::wstring& packagedVersion, bool present = true);
    // Puts the driver at version in place the way Windows does, from a
    // package outside the product folder.
    void InstallDriverVersion(const Entry& entry, const std::wstring& version);
    // A present controller whose driver is as new as the packaged one.
    Entry AddCurrentController();
    // Inst.Inf with the given [Install] lines and one section per entry;
    // DriverNum is the number of entries unless install names it.
    void WriteSetupFile(const std::vector<Entry>& entries, const std::string& install = "Debug=1\r\n");
    std::wstring InfPath(const Entry& entry) const;
    static std::wstring Sys(const std::wstring& version);

    testbed::RunResult RunSetup(const std::wstring& arguments, const std::vector<testbed::Answer>& answers,
                                const testbed::Environment& env = testbed::Environment(),
                                const std::wstring& currentDir = std::wstring());
    testbed::RunResult RunSetup64(const std::wstring& arguments, const std::vector<testbed::Answer>& answers,
                                  const testbed::Environment& env = testbed::Environment());
    // RunSetup with argument 0 naming argument0 (the program file is still
    // SetupExe()) and on desktop ("station\desktop"); empty keeps the usual.
    testbed::RunResult RunSetupAs(const std::wstring& argument0, const std::wstring& desktop,
                                  const std::wstring& arguments, const std::vector<testbed::Answer>& answers);
    // The debug log's messages, one per line, without timestamps. Lines about
    // other devices of the machine ("Device=..." of IDs not in keep) are left out,
    // since they depend on what else is plugged in.
    std::vector<std::wstring> LogMessages(const std::vector<std::wstring>& keepIds) const;
    std::string LogBytes() const;
    // LogMessages, keeping the lines of every entry's hardware ID.
    std::vector<std::wstring> Log() const;
    // The log's lines from the last one equal to start on: the update pass
    // comes after the detect pass.
    std::vector<std::wstring> LogFrom(const std::wstring& start) const;
    // The last count lines of Log(), fewer when there are not as many.
    std::vector<std::wstring> LogTail(size_t count) const;

private:
    testbed::RunResult Run(const std::wstring& argument0, const std::wstring& arguments,
                           const std::vector<testbed::Answer>& answers, const testbed::Environment& env,
                           const std::wstring& currentDir, const testbed::Launch& launch);

    std::wstring folder_;
    std::vector<std::wstring> devices_;
    std::vector<Entry> entries_;
};

// What a box must show; an empty button list means "don't care".
struct ExpectedBox {
    std::wstring text;
    testbed::BoxIcon icon;
    std::vector<std::wstring> buttons;
};

extern const wchar_t kCaption[];
extern const wchar_t kCaptionJapanese[];
extern const wchar_t kConfirmUtility[];
extern const wchar_t kConfirmDriver[];
extern const wchar_t kAlreadyInstalled[];
extern const wchar_t kCompleted[];
extern const wchar_t kNoFiles[];
extern const wchar_t kNoController[];
extern const wchar_t kWrongOs[];
extern const wchar_t kFailed87[];
extern const wchar_t kRestart[];

ExpectedBox YesNoBox(const std::wstring& text);
ExpectedBox ErrorBox(const std::wstring& text);
ExpectedBox PlainBox(const std::wstring& text);

// Every box shown, in order, and nothing else.
void ExpectBoxes(const testbed::RunResult& result, const std::vector<ExpectedBox>& expected,
                 const std::wstring& caption = kCaption);
