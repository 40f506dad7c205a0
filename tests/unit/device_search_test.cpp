#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/device_search.h"
#include "core/setup_state.h"
#include "test_files.h"
#include "testbed.h"

namespace {

// Real root-enumerated devices, made once for all cases. The IDs carry the
// process id so that devices left by an earlier run do not answer.
class DeviceSearchTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        base_ = L"UNITBUS\\DEV_" + std::to_wstring(GetCurrentProcessId());
        MakeDevice({});
        std::wstring withoutIds;
        if (testbed::CreateRootDeviceWithoutHardwareId(&withoutIds)) {
            instances_.push_back(withoutIds);
        }
        MakeDevice({base_ + L"&SUBSYS_0001", base_});
        // More than the 10000 bytes that the search reads a list into.
        std::vector<std::wstring> many;
        for (int i = 0; i < 30; ++i) {
            many.push_back(base_ + L"_LONG_" + std::to_wstring(i) + std::wstring(200, L'z'));
        }
        MakeDevice(many);
        MakeDevice({base_ + L"_TWIN"});
        MakeDevice({base_ + L"_TWIN", base_ + L"_SECOND"});
    }
    static void TearDownTestSuite()
    {
        for (const std::wstring& instance : instances_) {
            testbed::RemoveDevice(instance);
        }
        instances_.clear();
    }
    static void MakeDevice(const std::vector<std::wstring>& ids)
    {
        std::wstring instance;
        ASSERT_TRUE(testbed::CreateRootDevice(ids, &instance));
        instances_.push_back(instance);
    }
    void SetUp() override
    {
        UseProductFolder(folder_.path(), 1);
    }
    std::wstring Log() const
    {
        std::string bytes = ReadFileBytes(folder_.file(L"devupd.log"));
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        std::wstring messages;
        // Keep only the messages, without the timestamps.
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find(L"\r\n", start);
            messages += text.substr(start + 24, end - start - 24) + L"|";
            start = end + 2;
        }
        return messages;
    }

    static std::wstring base_;
    static std::vector<std::wstring> instances_;
    TempFolder folder_;
};

std::wstring DeviceSearchTest::base_;
std::vector<std::wstring> DeviceSearchTest::instances_;

TEST_F(DeviceSearchTest, MatchesWholeIdsCaseSensitively)
{
    struct Case {
        std::wstring wanted;
        int found;
    };
    const Case cases[] = {
        {base_, 1},
        {base_ + L"&SUBSYS_0001", 1},
        {base_ + L"_SECOND", 1},
        {base_.substr(0, base_.size() - 1), 0},
        {base_ + L"&SUBSYS_000", 0},
        {base_ + L" ", 0},
        {L"unitbus" + base_.substr(7), 0},
        {L"", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.found, FindExistingDevice(c.wanted.c_str())) << testing::PrintToString(c.wanted);
    }
}

TEST_F(DeviceSearchTest, LogsEachIdComparedUpToTheMatch)
{
    ASSERT_EQ(1, FindExistingDevice(base_.c_str()));
    const std::wstring expectedEnd = L"Device=" + base_ + L"&SUBSYS_0001\n|Device=" + base_ + L"\n|Device found\n|";
    std::wstring log = Log();
    ASSERT_GE(log.size(), expectedEnd.size());
    EXPECT_EQ(expectedEnd, log.substr(log.size() - expectedEnd.size()));
    EXPECT_EQ(std::wstring::npos, log.find(L"GetDeviceRegistryProperty"));
    EXPECT_EQ(std::wstring::npos, log.find(L"EnumDeviceInfo"));
}

TEST_F(DeviceSearchTest, StopsAtTheFirstOfTwoDevicesWithTheSameId)
{
    ASSERT_EQ(1, FindExistingDevice((base_ + L"_TWIN").c_str()));
    std::wstring log = Log();
    const std::wstring twinLine = L"Device=" + base_ + L"_TWIN\n|";
    size_t first = log.find(twinLine);
    ASSERT_NE(std::wstring::npos, first);
    EXPECT_EQ(std::wstring::npos, log.find(twinLine, first + 1)) << "the second twin was read";
}

TEST_F(DeviceSearchTest, PassesOverADeviceWhoseIdsDoNotFitAndGoesOn)
{
    ASSERT_EQ(1, FindExistingDevice((base_ + L"_SECOND").c_str()));
    std::wstring log = Log();
    EXPECT_NE(std::wstring::npos, log.find(L"Hardware ID list too long("));
    EXPECT_EQ(std::wstring::npos, log.find(base_ + L"_LONG_0"));
}

TEST_F(DeviceSearchTest, PassesOverDevicesWithoutIdsAndReadsAllOthers)
{
    const std::wstring absent = base_ + L"_ABSENT";
    EXPECT_EQ(0, FindExistingDevice(absent.c_str()));
    std::wstring log = Log();
    EXPECT_NE(std::wstring::npos, log.find(L"Device=" + base_ + L"_SECOND\n|"));
    EXPECT_EQ(std::wstring::npos, log.find(L"Device=\n"));
    EXPECT_EQ(std::wstring::npos, log.find(L"Device found"));
    EXPECT_EQ(std::wstring::npos, log.find(L"GetDeviceRegistryProperty"));
    EXPECT_EQ(std::wstring::npos, log.find(L"EnumDeviceInfo"));
}

}  // namespace
