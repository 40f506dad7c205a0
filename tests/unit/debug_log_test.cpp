#include <gtest/gtest.h>

#include <string>

#include "log/debug_log.h"
#include "core/setup_state.h"
#include "test_files.h"

namespace {

// The log's lines as wide text, each with its CR LF.
std::wstring ReadLog(const std::wstring& path)
{
    std::string bytes = ReadFileBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

bool IsTimestamp(const std::wstring& line)
{
    const wchar_t pattern[] = L"dddd/dd/dd dd:dd:dd.ddd ";
    if (line.size() < 24) {
        return false;
    }
    for (size_t i = 0; i < 24; ++i) {
        bool digit = line[i] >= L'0' && line[i] <= L'9';
        if (pattern[i] == L'd' ? !digit : line[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

class DebugLogTest : public testing::Test {
protected:
    void SetUp() override
    {
        UseProductFolder(folder_.path(), 1);
    }
    std::wstring logFile() const
    {
        return folder_.file(L"devupd.log");
    }
    TempFolder folder_;
};

TEST_F(DebugLogTest, WritesOneUtf16LineWithTimestampAndCrLf)
{
    LogMessage(L"InstallUtil() is called");
    std::string bytes = ReadFileBytes(logFile());
    ASSERT_EQ(0u, bytes.size() % 2);
    std::wstring log = ReadLog(logFile());
    ASSERT_TRUE(IsTimestamp(log)) << bytes;
    EXPECT_EQ(L"InstallUtil() is called\r\n", log.substr(24));
    EXPECT_NE(L'\xFEFF', log[0]);
}

TEST_F(DebugLogTest, FormatsArgumentsAndKeepsTheMessageAsItIs)
{
    LogMessage(L"Query result(%s)=%s", L"SELECT", L"{ABC}");
    LogMessage(L"Device=%s\n", L"PCI\\VEN_1");
    LogMessage(L"err=0x%x,n=%d", 0xe0000203u, -1);
    LogMessage(L"a\nb");
    std::wstring log = ReadLog(logFile());
    const wchar_t* expected[] = {L"Query result(SELECT)={ABC}\r\n", L"Device=PCI\\VEN_1\n\r\n",
                                 L"err=0xe0000203,n=-1\r\n", L"a\nb\r\n"};
    size_t start = 0;
    for (const wchar_t* line : expected) {
        ASSERT_TRUE(IsTimestamp(log.substr(start))) << testing::PrintToString(log);
        EXPECT_EQ(line, log.substr(start + 24, wcslen(line)));
        start += 24 + wcslen(line);
    }
    EXPECT_EQ(start, log.size());
}

TEST_F(DebugLogTest, CutsALongMessageTo255Characters)
{
    std::wstring message(300, L'm');
    message[254] = L'e';
    LogMessage(L"%s", message.c_str());
    std::wstring log = ReadLog(logFile());
    EXPECT_EQ(24u + 255u + 2u, log.size());
    EXPECT_EQ(message.substr(0, 255) + L"\r\n", log.substr(24));
}

TEST_F(DebugLogTest, AppendsToTheLinesOfEarlierRuns)
{
    WriteTextFile(logFile(), std::string("o\0l\0d\0\r\0\n\0", 10));
    LogMessage(L"new");
    std::wstring log = ReadLog(logFile());
    EXPECT_EQ(L"old\r\n", log.substr(0, 5));
    EXPECT_EQ(L"new\r\n", log.substr(5 + 24));
}

TEST_F(DebugLogTest, WritesNothingWhileSwitchedOff)
{
    g_setup.debugEnabled = 0;
    LogMessage(L"dropped");
    EXPECT_FALSE(FileExists(logFile()));
}

TEST_F(DebugLogTest, DropsTheLineWhenTheFileCannotBeOpened)
{
    CreateDirectoryW(logFile().c_str(), NULL);
    LogMessage(L"lost");
    DWORD attributes = GetFileAttributesW(logFile().c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    RemoveDirectoryW(logFile().c_str());
}

}  // namespace
