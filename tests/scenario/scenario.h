#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testbed.h"

// A product folder of its own with a copy of the real setup.exe, the devices
// that a case makes, and a run of setup.exe with the automated user.
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

    void WriteProductFile(const std::wstring& name, const std::string& text);
    // A hardware ID that no other case uses.
    std::wstring NewHardwareId();
    // A present root-enumerated device, removed again when the case ends.
    void AddController(const std::wstring& hardwareId);

    testbed::RunResult RunSetup(const std::wstring& arguments, const std::vector<testbed::Answer>& answers,
                                const testbed::Environment& env = testbed::Environment(),
                                const std::wstring& currentDir = std::wstring());
    // The debug log's messages, one per line, without timestamps. Lines about
    // other devices of the machine ("Device=..." of IDs not in keep) are left out,
    // since they depend on what else is plugged in.
    std::vector<std::wstring> LogMessages(const std::vector<std::wstring>& keepIds) const;
    std::string LogBytes() const;

private:
    std::wstring folder_;
    std::vector<std::wstring> devices_;
};

// What a box must show; an empty button list means "don't care".
struct ExpectedBox {
    std::wstring text;
    testbed::BoxIcon icon;
    std::vector<std::wstring> buttons;
};

extern const wchar_t kCaption[];
extern const wchar_t kCaptionJapanese[];

ExpectedBox YesNoBox(const std::wstring& text);
ExpectedBox ErrorBox(const std::wstring& text);
ExpectedBox PlainBox(const std::wstring& text);

// Every box shown, in order, and nothing else.
void ExpectBoxes(const testbed::RunResult& result, const std::vector<ExpectedBox>& expected,
                 const std::wstring& caption = kCaption);
