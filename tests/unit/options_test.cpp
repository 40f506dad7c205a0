#include <gtest/gtest.h>

#include "setup/command_line.h"
#include "setup/main_sequence.h"

namespace {

struct OptionCase {
    const wchar_t* argument;
    OptionVerdict verdict;
};

const OptionCase kOptionCases[] = {
    {L"/QN", kOptionQuiet},      {L"/qn", kOptionQuiet},         {L"-Qn", kOptionQuiet},    {L"/qN", kOptionQuiet},
    {L"/QNX", kOptionQuiet},     {L"/Q", kOptionAccepted},       {L"/q", kOptionAccepted},  {L"/Qx", kOptionAccepted},
    {L"-Q ", kOptionAccepted},   {L"/D", kOptionAccepted},       {L"-D", kOptionAccepted},  {L"/U", kOptionAccepted},
    {L"/Uxyz", kOptionAccepted}, {L"/Dn", kOptionAccepted},      {L"/d", kOptionInvalid},   {L"/u", kOptionInvalid},
    {L"/", kOptionInvalid},      {L"-", kOptionInvalid},         {L"", kOptionInvalid},     {L"QN", kOptionInvalid},
    {L"/X", kOptionInvalid},     {L"setup.log", kOptionInvalid}, {L"\\QN", kOptionInvalid}, {L"//QN", kOptionInvalid},
};

TEST(CheckOption, JudgesByTheFirstThreeCharacters)
{
    for (const OptionCase& c : kOptionCases) {
        EXPECT_EQ(c.verdict, CheckOption(c.argument)) << "argument \"" << testing::PrintToString(c.argument) << "\"";
    }
}

}  // namespace

namespace {

// The command line is split as the shell's CommandLineToArgvW splits it;
// argument 0 is left out, since the program never reads it.
TEST(SplitCommandLine, SplitsAsTheShellDoes)
{
    typedef LPWSTR*(WINAPI * SplitFunction)(LPCWSTR, int*);
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    ASSERT_NE(nullptr, shell);
    SplitFunction shellSplit =
        reinterpret_cast<SplitFunction>(reinterpret_cast<void*>(GetProcAddress(shell, "CommandLineToArgvW")));
    ASSERT_NE(nullptr, shellSplit);
    const wchar_t* const lines[] = {
        L"setup.exe",
        L"setup.exe /QN",
        L"\"C:\\Product Folder\\setup.exe\" /QN /D",
        L"\"C:\\Product\\setup.exe\"/QN",
        L"setup.exe \t /D   -Qn ",
        L"setup.exe \"\" /X",
        L"setup.exe \"/Q\"N",
        L"setup.exe a\\\\\"b c\"",
        L"setup.exe a\\\\\\\"b c",
        L"setup.exe a\\b\\\\ c",
        L"setup.exe \"a\"\"b\" \"\"\"\" \"\"\"\"\"\"x",
        L"setup.exe \"unclosed /QN",
        L"\"\" /QN",
    };
    for (const wchar_t* line : lines) {
        int expectedCount = 0;
        wchar_t** expected = shellSplit(line, &expectedCount);
        int count = 0;
        wchar_t** split = SplitCommandLine(line, &count);
        ASSERT_NE(nullptr, split);
        ASSERT_EQ(expectedCount, count) << testing::PrintToString(line);
        for (int i = 1; i < count; ++i) {
            EXPECT_STREQ(expected[i], split[i]) << testing::PrintToString(line) << " argument " << i;
        }
        EXPECT_EQ(nullptr, split[count]);
        LocalFree(split);
        LocalFree(expected);
    }
    FreeLibrary(shell);
}

}  // namespace
