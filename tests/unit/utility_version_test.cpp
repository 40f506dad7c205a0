#include <gtest/gtest.h>

#include <string>

#include "core/setup_state.h"
#include "test_files.h"
#include "utility/utility_install.h"
#include "utility/utility_removal.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

struct UtilityParseCase {
    const wchar_t* text;
    int parts[4];
};

const UtilityParseCase kUtilityParseCases[] = {
    {L"1.2.10", {1, 2, 10, 0}},
    {L"1.0a", {1, 49, 0, 0}},
    {L"2.1", {2, 1, 0, 0}},
    {L"", {0, 0, 0, 0}},
    {L"1..5", {1, 0, 5, 0}},
    {L"1.2.3.4.5", {1, 2, 3, 4}},
    {L"2147483648", {-2147483647 - 1, 0, 0, 0}},
    {L" 1", {-159, 0, 0, 0}},
};

TEST(ParseUtilityVersion, TakesEveryCharacterButTheDotAsADigit)
{
    for (const UtilityParseCase& c : kUtilityParseCases) {
        int parts[4] = {7, 7, 7, 7};
        ParseUtilityVersion(c.text, parts);
        for (int part = 0; part < 4; ++part) {
            EXPECT_EQ(c.parts[part], parts[part]) << testing::PrintToString(c.text) << " part " << part;
        }
    }
}

struct NewerCase {
    const wchar_t* package;
    const wchar_t* installed;
    int newer;
};

const NewerCase kNewerCases[] = {
    {L"1.0.0.0", L"1.0", 0}, {L"1.2.9", L"1.2.10", 0}, {L"1.2.10", L"1.2.9", 1}, {L"1.0.0.1", L"", 1},
    {L"0.0.0.0", L"", 0},    {L"2147483648", L"1", 0}, {L"1", L"2147483648", 1}, {L"2.0", L"1.99.99.99", 1},
};

TEST(IsNewerUtilityVersion, ComparesThePackageWithTheInstalledVersion)
{
    TempFolder folder;
    UseProductFolder(folder.path(), 1);
    for (const NewerCase& c : kNewerCases) {
        StringCchCopyW(g_setup.productVersion, kVersionCapacity, c.package);
        EXPECT_EQ(c.newer, IsNewerUtilityVersion(c.installed))
            << testing::PrintToString(c.package) << " over " << testing::PrintToString(c.installed);
    }
    std::string log = ReadFileBytes(folder.file(L"devupd.log"));
    EXPECT_NE(std::string::npos, log.find(Utf16Bytes(L"Check version.New=1.0.0.0 Current=1.0.0.0\r\n")));
}

// The utility's registry key, made for one case and removed again.
class PreviousFolderTest : public testing::Test {
protected:
    void SetUp() override
    {
        UseProductFolder(folder_.path(), 0);
    }
    void TearDown() override
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc");
    }
    void SetInstallationDirectory(const std::wstring& value)
    {
        HKEY key = NULL;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc", 0, NULL, 0,
                                                 KEY_SET_VALUE, NULL, &key, NULL));
        RegSetValueExW(key, L"InstallationDirectory", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    TempFolder folder_;
};

TEST_F(PreviousFolderTest, IsTheParentOfTheInstallationDirectory)
{
    CreateDirectoryW(folder_.file(L"Tool").c_str(), NULL);
    const std::wstring tool = folder_.file(L"Tool");
    struct Case {
        std::wstring value;
        int result;
        std::wstring folder;
    };
    const Case cases[] = {
        {tool + L"\\Service\\", 0, tool},
        {tool + L"\\Service", 0, tool},
        {folder_.file(L"Missing\\Service\\"), 2, L""},
        {L"", 0, L""},
        {tool + L"\\" + std::wstring(258 - tool.size(), L's'), 0, tool},
        {tool + L"\\" + std::wstring(259 - tool.size(), L's'), ERROR_MORE_DATA, L""},
        // Only a plain drive-letter folder may go into the install command.
        {L"\\\\?\\" + tool + L"\\Service\\", ERROR_BAD_PATHNAME, L""},
        {tool + L"\" TARGETDIR=\"C:\\Service\\", ERROR_BAD_PATHNAME, L""},
        {tool + L"\\Serv*ce\\", ERROR_BAD_PATHNAME, L""},
        {tool + L"\\Serv\tice\\", ERROR_BAD_PATHNAME, L""},
        {L"Tool\\Service", ERROR_BAD_PATHNAME, L""},
    };
    for (const Case& c : cases) {
        SetInstallationDirectory(c.value);
        wchar_t buffer[kPathCapacity] = L"unchanged";
        EXPECT_EQ(c.result, GetPreviousInstallDir(buffer)) << testing::PrintToString(c.value);
        EXPECT_EQ(c.folder, buffer) << testing::PrintToString(c.value);
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VANTIRO\\ZELMON\\Zelmsvc");
    wchar_t buffer[kPathCapacity] = L"unchanged";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetPreviousInstallDir(buffer));
    EXPECT_STREQ(L"", buffer);
}

}  // namespace
