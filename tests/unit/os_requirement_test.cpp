#include <gtest/gtest.h>

#include "setup/os_requirement.h"
#include "test_files.h"

namespace {

struct OsCase {
    const wchar_t* requirement;
    DWORD major;
    DWORD minor;
    BOOL wow64;
    bool met;
};

const OsCase kOsCases[] = {
    {L"", 5, 0, FALSE, true},        {L"", 10, 0, TRUE, true},      {L"6", 5, 0, TRUE, true},
    {L"5.1", 5, 1, FALSE, true},     {L"5.1", 5, 2, FALSE, true},   {L"5.1", 6, 0, FALSE, true},
    {L"5.1", 5, 0, FALSE, false},    {L"5.1", 5, 2, TRUE, true},    {L"6.0", 6, 0, FALSE, true},
    {L"6.0", 6, 0, TRUE, false},     {L"6.0", 10, 0, TRUE, false},  {L"10.0", 6, 0, FALSE, false},
    {L"10.0", 6, 3, FALSE, false},   {L"10.0", 10, 0, FALSE, true}, {L"6.3", 10, 0, FALSE, true},
    {L"6.1", 6, 0, FALSE, false},    {L"6.0", 6, 1, FALSE, true},   {L"6.0.6000", 6, 0, FALSE, true},
    {L"abc.def", 1, 0, FALSE, true}, {L" 6.1", 6, 1, FALSE, true},  {L"+6.1", 6, 0, FALSE, false},
    {L"-1.0", 10, 0, FALSE, false},  {L"5.-1", 5, 9, FALSE, false}, {L"5.9abc", 5, 10, FALSE, true},
};

TEST(IsOsRequirementMet, ComparesMajorThenMinorAsUnsigned)
{
    for (const OsCase& c : kOsCases) {
        EXPECT_EQ(c.met, IsOsRequirementMet(c.requirement, c.major, c.minor, c.wow64))
            << testing::PrintToString(c.requirement) << " on " << c.major << "." << c.minor << " wow64=" << c.wow64;
    }
}

}  // namespace

struct OsFileCase {
    const char* inf;
    bool met;
};

// The version that Wine reports lies between these; the last value is cut to
// 31 characters and so loses its ".0".
const OsFileCase kOsFileCases[] = {
    {"[Install]\r\n", true},
    {"[Install]\r\nOSVER=\r\n", true},
    {"[Install]\r\nOSVER=5.0\r\n", true},
    {"[Install]\r\nOSVER=99.0\r\n", false},
    {"[Install]\r\nOSVER=-1.0\r\n", false},
    {"[Install]\r\nOSVER=00000000000000000000000000099.0\r\n", false},
    {"[Install]\r\nOSVER=0000000000000000000000000000099.0\r\n", true},
};

TEST(CheckOsRequirement, ReadsOsverFromTheSetupFile)
{
    TempFolder folder;
    UseProductFolder(folder.path(), 0);
    for (const OsFileCase& c : kOsFileCases) {
        WriteTextFile(folder.file(L"Inst.Inf"), c.inf);
        EXPECT_EQ(c.met, CheckOsRequirement()) << c.inf;
    }
}
