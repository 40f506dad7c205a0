#include <gtest/gtest.h>

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
