#include <gtest/gtest.h>

#include <string>

#include "driver/driver_version.h"
#include "core/setup_state.h"
#include "test_files.h"
#include "testbed.h"

namespace {

struct ParseCase {
    const wchar_t* text;
    int numbers[4];
};

const ParseCase kParseCases[] = {
    {L"6.0.1.12", {6, 0, 1, 12}},
    {L"1.2", {1, 2, 0, 0}},
    {L"", {0, 0, 0, 0}},
    {L"1.2a.3", {1, 2, 3, 0}},
    {L"1.2 3.4", {1, 23, 4, 0}},
    {L"1..2", {1, 0, 2, 0}},
    {L"1.2.3.4.9", {1, 2, 3, 4}},
    {L" 05/01/2024", {5012024, 0, 0, 0}},
    {L"2147483648.1", {-2147483647 - 1, 1, 0, 0}},
    {L"4294967297.0", {1, 0, 0, 0}},
    {L"\uff11.2", {0, 2, 0, 0}},
    {L".", {0, 0, 0, 0}},
};

TEST(ParseDriverVersion, CountsAsciiDigitsOnlyAndWraps)
{
    for (const ParseCase& c : kParseCases) {
        int numbers[4] = {-1, -1, -1, -1};
        ParseDriverVersion(c.text, numbers);
        for (int part = 0; part < 4; ++part) {
            EXPECT_EQ(c.numbers[part], numbers[part]) << testing::PrintToString(c.text) << " part " << part;
        }
    }
}

struct CompareCase {
    const wchar_t* current;
    const wchar_t* latest;
    int newer;
};

const CompareCase kCompareCases[] = {
    {L"6.0.1.12", L"6.0.1.12", 0},
    {L"1.2.0.0", L"1.2", 0},
    {L"1.2.3.4", L"1.2.3.4.9", 0},
    {L"1.9.0.0", L"1.10.0.0", 1},
    {L"1.10.0.0", L"1.9.0.0", 0},
    {L"1.99.99.99", L"2.0.0.0", 1},
    {L"1.0.0.0", L"", 0},
    {L"", L"0.0.0.1", 1},
    {L"", L"", 0},
    {L"1.0.0.0", L"2147483648.0.0.0", 0},
    {L"6.0.1.12", L"05/01/2024", 1},
};

TEST(CompareDriverVersions, ComparesPartsAsSignedNumbers)
{
    for (const CompareCase& c : kCompareCases) {
        EXPECT_EQ(c.newer, CompareDriverVersions(c.current, c.latest))
            << testing::PrintToString(c.current) << " -> " << testing::PrintToString(c.latest);
    }
}

struct InfCase {
    std::string inf;
    int read;
    const wchar_t* version;
};

TEST(ReadInfDriverVersion, TakesWhatFollowsTheFirstComma)
{
    const InfCase cases[] = {
        {"[Version]\r\nDriverVer=05/01/2024,6.0.1.12\r\n", 1, L"6.0.1.12"},
        {"[Version]\r\nDriverVer = 05/01/2024, 6.0.1.12\r\n", 1, L" 6.0.1.12"},
        {"[Version]\r\nDriverVer=05/01/2024\r\n", 1, L"05/01/2024"},
        {"[Version]\r\nDriverVer=05/01/2024,\r\n", 1, L""},
        {"[Version]\r\nDriverVer=a,b,c\r\n", 1, L"b,c"},
        {"[Version]\r\nDriverVer=\r\n", 0, L""},
        {"[Version]\r\nClass=SCSIAdapter\r\n", 0, L""},
        {"[Version]\r\nDriverVer=05/01/2024," + std::string(63, '1') + "\r\n", 1, nullptr},
        {"[Version]\r\nDriverVer=05/01/2024," + std::string(64, '1') + "\r\n", 0, L""},
        {"[Version]\r\nDriverVer=" + std::string(150, '0') + ",1.2.3.4\r\n", 0, L""},
    };
    TempFolder folder;
    UseProductFolder(folder.path(), 1);
    for (const InfCase& c : cases) {
        WriteTextFile(folder.file(L"x.inf"), c.inf);
        wchar_t version[kVersionTextCapacity] = L"unchanged";
        EXPECT_EQ(c.read, ReadInfDriverVersion(folder.file(L"x.inf").c_str(), version)) << c.inf;
        const std::wstring expected = c.version != nullptr ? c.version : std::wstring(63, L'1');
        EXPECT_EQ(expected, version) << c.inf;
    }
    wchar_t version[kVersionTextCapacity] = L"unchanged";
    EXPECT_EQ(0, ReadInfDriverVersion(folder.file(L"missing.inf").c_str(), version));
    EXPECT_STREQ(L"", version);
}

}  // namespace

namespace {

std::wstring TestProgramFile(const std::wstring& name)
{
    return testbed::TestProgramFolder() + name;
}

TEST(GetFileVersionText, ReadsTheFixedFileVersion)
{
    struct Case {
        std::wstring file;
        int read;
        const wchar_t* version;
    };
    const Case cases[] = {
        {TestProgramFile(L"drivers\\6.0.1.12\\vraid.sys"), 1, L"6.0.1.12"},
        {TestProgramFile(L"no_fixed_info.dll"), 1, L""},
        {TestProgramFile(L"wrong_signature.dll"), 0, L""},
        {TestProgramFile(L"short_fixed_info.dll"), 0, L""},
        {TestProgramFile(L"drivers\\noversion\\vraid.sys"), 0, L""},
        {TestProgramFile(L"missing.sys"), 0, L""},
    };
    for (const Case& c : cases) {
        wchar_t version[kVersionTextCapacity] = L"unchanged";
        EXPECT_EQ(c.read, GetFileVersionText(c.file.c_str(), version)) << testing::PrintToString(c.file);
        EXPECT_STREQ(c.version, version) << testing::PrintToString(c.file);
    }
}

}  // namespace
