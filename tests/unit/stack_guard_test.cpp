#include <gtest/gtest.h>

#include <set>
#include <string>

#include "testbed.h"

namespace {

testbed::ChildRun RunProbe(const std::wstring& arguments)
{
    const std::wstring probe = testbed::QuoteArgument(testbed::TestProgramFolder() + L"stack_probe.exe");
    return testbed::RunChild(probe + L" " + arguments, L"", testbed::Environment(), 30000);
}

TEST(StackProtector, EndsTheProcessWhenALocalArrayIsOverrun)
{
    struct Case {
        const wchar_t* bytes;
        DWORD exitCode;
    };
    const Case cases[] = {
        {L"0", 0},
        {L"16", 0},
        {L"20", STATUS_STACK_BUFFER_OVERRUN},
        {L"64", STATUS_STACK_BUFFER_OVERRUN},
        {L"1000", STATUS_STACK_BUFFER_OVERRUN},
    };
    for (const Case& c : cases) {
        testbed::ChildRun run = RunProbe(std::wstring(L"fill ") + c.bytes);
        ASSERT_TRUE(run.started && !run.timedOut) << testing::PrintToString(c.bytes);
        EXPECT_EQ(c.exitCode, run.exitCode) << testing::PrintToString(c.bytes);
    }
}

TEST(StackProtector, SeedsTheGuardAnewInEachRunBeforeOtherConstructors)
{
    std::set<DWORD> guards;
    const int runs = 4;
    for (int i = 0; i < runs; ++i) {
        testbed::ChildRun run = RunProbe(L"guard");
        ASSERT_TRUE(run.started && !run.timedOut);
        EXPECT_NE(0u, run.exitCode) << "an ordinary constructor saw another guard than main";
        guards.insert(run.exitCode);
    }
    EXPECT_EQ(static_cast<size_t>(runs), guards.size());
}

}  // namespace
