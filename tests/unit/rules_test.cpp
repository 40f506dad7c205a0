// Rules dense enough for a table of their own: the options and the command
// line, version texts, the OS requirement, hardware-ID matching, the folder
// of an installed utility, and the stack guard.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "config/setup_config.h"
#include "core/process_state.h"
#include "driver/device_search.h"
#include "driver/driver_version.h"
#include "log/debug_log.h"
#include "product.h"
#include "setup/command_line.h"
#include "setup/main_sequence.h"
#include "setup/os_requirement.h"
#include "utility/installed_utility.h"
#include "utility_bed.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

TEST(Rules, OptionsByTheirFirstThreeCharacters)
{
    const struct {
        const wchar_t* argument;
        OptionVerdict verdict;
    } cases[] = {
        {L"/QN", kOptionQuiet},         {L"/qn", kOptionQuiet},    {L"-Qn", kOptionQuiet},
        {L"/qN", kOptionQuiet},         {L"/QNX", kOptionQuiet},   {L"/Q", kOptionAccepted},
        {L"/q", kOptionAccepted},       {L"/Qx", kOptionAccepted}, {L"-Q ", kOptionAccepted},
        {L"/D", kOptionAccepted},       {L"-D", kOptionAccepted},  {L"/U", kOptionAccepted},
        {L"/Uxyz", kOptionAccepted},    {L"/Dn", kOptionAccepted}, {L"/d", kOptionInvalid},
        {L"/u", kOptionInvalid},        {L"/", kOptionInvalid},    {L"-", kOptionInvalid},
        {L"", kOptionInvalid},          {L"QN", kOptionInvalid},   {L"/X", kOptionInvalid},
        {L"setup.log", kOptionInvalid}, {L"\\QN", kOptionInvalid}, {L"//QN", kOptionInvalid},
        {L"/C", kOptionCheck},          {L"-check", kOptionCheck}, {L"C", kOptionInvalid},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.verdict, CheckOption(c.argument)) << testing::PrintToString(c.argument);
}

// As the shell's CommandLineToArgvW splits it; argument 0 is never read. What
// follows argument 0, behind setup64.exe's quoted path, splits into the same
// arguments 1..n, as the hand-over passes it on.
TEST(Rules, CommandLineSplitsAsTheShellDoes)
{
    typedef LPWSTR*(WINAPI * SplitFunction)(LPCWSTR, int*);
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    SplitFunction shellSplit =
        reinterpret_cast<SplitFunction>(reinterpret_cast<void*>(GetProcAddress(shell, "CommandLineToArgvW")));
    ASSERT_NE(nullptr, shellSplit);
    const wchar_t* const lines[] = {
        L"setup.exe",
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
        L"\"C:\\Product Folder\\setup.exe\"/QN",
        L"\"C:\\Product\\setup.exe\"-qn /D",
        L"\"C:\\Product\\setup.exe\"\t/QN",
        L"\"C:\\Product\\setup.exe\"\"/QN\" /D",
        L"\"C:\\Product\\setup.exe\"\"\"/QN",
        L"\"C:\\Product\\setup.exe\"\\\"/QN",
        L"\"C:\\Product\\setup.exe\"a\\\\\"b c\"",
        L"C:\\Product\\setup.exe\"/QN",
        L"C:\\Pro\"duct Folder\\setup.exe\" /QN",
        L"\"C:\\Product\\setup.exe",
        L"\"/QN",
    };
    for (const wchar_t* line : lines) {
        int expectedCount = 0;
        int count = 0;
        wchar_t** expected = shellSplit(line, &expectedCount);
        wchar_t** split = SplitCommandLine(line, &count);
        ASSERT_NE(nullptr, split);
        ASSERT_EQ(expectedCount, count) << testing::PrintToString(line);
        for (int i = 1; i < count; ++i)
            EXPECT_STREQ(expected[i], split[i]) << testing::PrintToString(line) << " argument " << i;
        EXPECT_EQ(nullptr, split[count]);
        const std::wstring handedOver =
            std::wstring(L"\"C:\\Product Folder\\setup64.exe\" ") + FindArgumentsAfterProgram(line);
        int handedCount = 0;
        wchar_t** handed = shellSplit(handedOver.c_str(), &handedCount);
        ASSERT_EQ(expectedCount, handedCount) << testing::PrintToString(handedOver);
        for (int i = 1; i < handedCount; ++i)
            EXPECT_STREQ(expected[i], handed[i]) << testing::PrintToString(handedOver) << " argument " << i;
        LocalFree(handed);
        LocalFree(split);
        LocalFree(expected);
    }
}

// Two version texts and how the first stands to the second: '<' older, '='
// the same, '>' newer.
struct Order {
    const wchar_t* first;
    char order;
    const wchar_t* second;
};

void ExpectOrders(const std::vector<Order>& orders, int (*newer)(const wchar_t* current, const wchar_t* latest))
{
    for (const Order& c : orders) {
        EXPECT_EQ(c.order == '<', newer(c.first, c.second) == 1)
            << testing::PrintToString(c.first) << c.order << testing::PrintToString(c.second);
        EXPECT_EQ(c.order == '>', newer(c.second, c.first) == 1)
            << testing::PrintToString(c.first) << c.order << testing::PrintToString(c.second);
    }
}

// Only ASCII digits count; each part wraps at 2^32 and compares signed.
TEST(Rules, DriverVersions)
{
    ExpectOrders({{L"6.0.1.12", '=', L"6.0.1.12"},
                  {L"6.0.1.12", '<', L"6.0.1.13"},
                  {L"1.2.0.0", '=', L"1.2"},
                  {L"1.2.3.4", '=', L"1.2.3.4.9"},
                  {L"1.9.0.0", '<', L"1.10.0.0"},
                  {L"1.99.99.99", '<', L"2.0.0.0"},
                  {L"", '<', L"0.0.0.1"},
                  {L"1.2a.3", '=', L"1.2.3"},
                  {L"1.2 3.4", '=', L"1.23.4"},
                  {L"1..2", '=', L"1.0.2"},
                  {L"2147483648.1", '<', L"0.0"},
                  {L"4294967297.0", '=', L"1"},
                  {L"\uff11.2", '=', L"0.2"},
                  {L" 05/01/2024", '>', L"6.0.1.12"}},
                 CompareDriverVersions);
}

int IsNewerUtility(const wchar_t* installed, const wchar_t* package)
{
    return IsNewerUtilityVersion(package, installed);
}

// Every character but "." counts as a digit, its code less 48.
TEST(Rules, UtilityVersions)
{
    ExpectOrders({{L"1.0", '=', L"1.0.0.0"},
                  {L"1.2.9", '<', L"1.2.10"},
                  {L"", '<', L"1.0.0.1"},
                  {L"", '=', L"0.0.0.0"},
                  {L"2147483648", '<', L"1"},
                  {L"1.99.99.99", '<', L"2.0"},
                  {L"1.0a", '=', L"1.49"},
                  {L" 1", '<', L"0"},
                  {L"1.2.3.4.5", '=', L"1.2.3.4"},
                  {L"1..5", '=', L"1.0.5"}},
                 IsNewerUtility);
}

// A DriverVer that may have been cut, or that does not fit, is unreadable.
TEST(Rules, DriverVerOfAnInf)
{
    const struct {
        std::string value;
        int read;
        std::wstring version;
    } cases[] = {
        {"05/01/2024,6.0.1.12", 1, L"6.0.1.12"},
        {"05/01/2024", 1, L"05/01/2024"},
        {"05/01/2024,", 1, L""},
        {"a,b,c", 1, L"b,c"},
        {"", 0, L""},
        {"05/01/2024," + std::string(63, '1'), 1, std::wstring(63, L'1')},
        {"05/01/2024," + std::string(64, '1'), 0, L""},
        {std::string(150, '0') + ",1.2.3.4", 0, L""},
    };
    testbed::Product p;
    for (const auto& c : cases) {
        p.WriteFile(p.folder + L"x.inf", "[Version]\r\nDriverVer=" + c.value + "\r\n");
        wchar_t version[kVersionTextCapacity] = L"unchanged";
        EXPECT_EQ(c.read, ReadInfDriverVersion((p.folder + L"x.inf").c_str(), version)) << c.value;
        EXPECT_EQ(c.version, version) << c.value;
    }
}

// The fixed file information must be whole and signed.
TEST(Rules, FileVersions)
{
    const struct {
        const wchar_t* file;
        int read;
        const wchar_t* version;
    } cases[] = {
        {L"drivers\\6.0.1.12\\vraid.sys", 1, L"6.0.1.12"},
        {L"no_fixed_info.dll", 0, L""},
        {L"wrong_signature.dll", 0, L""},
        {L"short_fixed_info.dll", 0, L""},
        {L"drivers\\noversion\\vraid.sys", 0, L""},
        {L"missing.sys", 0, L""},
    };
    for (const auto& c : cases) {
        wchar_t version[kVersionTextCapacity] = L"unchanged";
        EXPECT_EQ(c.read, GetFileVersionText((testbed::TestProgramFolder() + c.file).c_str(), version)) << c.file;
        EXPECT_STREQ(c.version, version) << c.file;
    }
}

// The keys that the program reads are the keys that the commented Inst.Inf of
// the release documents, as "Key=" or ";Key=" at the start of a line.
TEST(Rules, SetupKeysAsDocumented)
{
    std::string text;
    ASSERT_TRUE(testbed::ReadFileBytes(testbed::TestProgramFolder() + L"release-Inst.Inf", &text));
    // Older Notepad shows a file of bare line feeds as one line.
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        ASSERT_TRUE(at > 0 && text[at - 1] == '\r') << "a line without CR LF at byte " << at;
    std::set<std::string> documented;
    for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start - (end > start && text[end - 1] == '\r' ? 1 : 0));
        const size_t key = line.compare(0, 1, ";") == 0 ? 1 : 0;
        const size_t equals = line.find('=');
        if (equals != std::string::npos && equals > key &&
            line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", key) == equals)
            documented.insert(line.substr(key, equals - key));
    }
    std::set<std::string> read;
    for (const SetupKey& key : kInstallKeys)
        read.insert(testbed::ToBytes(key.name, CP_ACP));
    for (const wchar_t* key : kDriverEntryKeys)
        read.insert(testbed::ToBytes(key, CP_ACP));
    EXPECT_EQ(documented, read);
}

// Major, then minor, unsigned; OSVER 6.0 or later is never met under WOW64.
TEST(Rules, OsRequirement)
{
    const struct {
        const wchar_t* requirement;
        DWORD major;
        DWORD minor;
        BOOL wow64;
        bool met;
    } cases[] = {
        {L"", 5, 0, FALSE, true},        {L"", 10, 0, TRUE, true},      {L"6", 5, 0, TRUE, true},
        {L"5.1", 5, 1, FALSE, true},     {L"5.1", 5, 2, FALSE, true},   {L"5.1", 6, 0, FALSE, true},
        {L"5.1", 5, 0, FALSE, false},    {L"5.1", 5, 2, TRUE, true},    {L"6.0", 6, 0, FALSE, true},
        {L"6.0", 6, 0, TRUE, false},     {L"6.0", 10, 0, TRUE, false},  {L"10.0", 6, 0, FALSE, false},
        {L"10.0", 6, 3, FALSE, false},   {L"10.0", 10, 0, FALSE, true}, {L"6.3", 10, 0, FALSE, true},
        {L"6.1", 6, 0, FALSE, false},    {L"6.0", 6, 1, FALSE, true},   {L"6.0.6000", 6, 0, FALSE, true},
        {L"abc.def", 1, 0, FALSE, true}, {L" 6.1", 6, 1, FALSE, true},  {L"+6.1", 6, 0, FALSE, false},
        {L"-1.0", 10, 0, FALSE, false},  {L"5.-1", 5, 9, FALSE, false}, {L"5.9abc", 5, 10, FALSE, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.met, IsOsRequirementMet(c.requirement, c.major, c.minor, c.wow64))
            << testing::PrintToString(c.requirement) << " on " << c.major << "." << c.minor << " wow64 " << c.wow64;
    }
}

// Whole IDs, case-sensitive, against real devices: one without IDs, one whose
// list is too long to read (passed over), twins (the first ends the search).
TEST(Rules, HardwareIds)
{
    const std::wstring base = L"UNITBUS\\DEV_" + std::to_wstring(GetCurrentProcessId());
    std::vector<std::wstring> longList;
    for (int i = 0; i < 30; ++i)
        longList.push_back(base + L"_LONG_" + std::to_wstring(i) + std::wstring(200, L'z'));
    const std::vector<std::vector<std::wstring>> devices = {
        {}, {base + L"&SUBSYS_0001", base}, longList, {base + L"_TWIN"}, {base + L"_TWIN", base + L"_SECOND"}};
    std::vector<std::wstring> instances(devices.size() + 1);
    EXPECT_TRUE(testbed::CreateRootDeviceWithoutHardwareId(&instances.back()));
    for (size_t i = 0; i < devices.size(); ++i)
        EXPECT_TRUE(testbed::CreateRootDevice(devices[i], &instances[i]));
    const struct {
        std::wstring wanted;
        int found;
    } cases[] = {
        {base, 1},
        {base + L"&SUBSYS_0001", 1},
        {base + L"_SECOND", 1},
        {base.substr(0, base.size() - 1), 0},
        {base + L"&SUBSYS_000", 0},
        {base + L" ", 0},
        {L"unitbus" + base.substr(7), 0},
        {L"", 0},
    };
    testbed::Product p;
    StartDebugLog((p.product + L"devupd.log").c_str(), L"");
    for (const auto& c : cases)
        EXPECT_EQ(c.found, FindExistingDevice(c.wanted.c_str())) << testing::PrintToString(c.wanted);
    const std::vector<std::wstring> log = p.Log();
    auto count = [&log](const std::wstring& text) {
        return std::count_if(log.begin(), log.end(),
                             [&text](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
    };
    EXPECT_LT(0, count(L"Hardware ID list too long("));
    EXPECT_EQ(0, count(base + L"_LONG_"));
    EXPECT_EQ(0, std::count(log.begin(), log.end(), L"Device=\n"));
    EXPECT_EQ(0, count(L"GetDeviceRegistryProperty") + count(L"EnumDeviceInfo"));
    DeleteFileW((p.product + L"devupd.log").c_str());
    EXPECT_EQ(1, FindExistingDevice((base + L"_TWIN").c_str()));
    const std::vector<std::wstring> twin = p.Log();
    EXPECT_EQ(1, std::count(twin.begin(), twin.end(), L"Device=" + base + L"_TWIN\n")) << "the second twin was read";
    for (const std::wstring& instance : instances)
        testbed::RemoveDevice(instance);
}

// Only a plain drive-letter folder that msiexec can make goes into the install
// command.
TEST(Rules, FolderOfTheInstalledUtility)
{
    testbed::Product p;
    const std::wstring tool = p.folder + L"Tool";
    CreateDirectoryW(tool.c_str(), NULL);
    const struct {
        std::wstring value;
        int result;
        std::wstring parent;
    } cases[] = {
        {tool + L"\\Service\\", 0, tool},
        {tool + L"\\Service", 0, tool},
        {p.folder + L"Missing\\Service\\", 2, L""},
        {L"", 0, L""},
        {tool + L"\\" + std::wstring(247 - tool.size(), L's') + L"\\", 0, tool},
        {tool + L"\\" + std::wstring(248 - tool.size(), L's') + L"\\", ERROR_BAD_PATHNAME, L""},
        {tool + L"\\" + std::wstring(258 - tool.size(), L's'), ERROR_BAD_PATHNAME, L""},
        {tool + L"\\" + std::wstring(1024 - tool.size(), L's'), ERROR_MORE_DATA, L""},
        {L"\\\\?\\" + tool + L"\\Service\\", ERROR_BAD_PATHNAME, L""},
        {tool + L"\" TARGETDIR=\"C:\\Service\\", ERROR_BAD_PATHNAME, L""},
        {tool + L"\\Serv*ce\\", ERROR_BAD_PATHNAME, L""},
        {tool + L"\\Serv\tice\\", ERROR_BAD_PATHNAME, L""},
        {L"Tool\\Service", ERROR_BAD_PATHNAME, L""},
    };
    // The install command names the package's copy in the cache.
    static UtilityPlan plan = {};
    StringCchCopyW(plan.package, kPathCapacity,
                   L"C:\\ProgramData\\VANTIRO\\RAID Setup\\Package Cache\\.partial-1\\Zelmon.msi");
    StringCchCopyW(plan.productCode, kPathCapacity, testbed::kZelmonProductCode);
    StringCchCopyW(plan.packageVersion, kVersionCapacity, L"1.2.10");
    for (const auto& c : cases) {
        ASSERT_TRUE(testbed::SetInstallationDirectory(c.value));
        EXPECT_EQ(c.result, FindTargetFolder(&plan)) << testing::PrintToString(c.value);
        EXPECT_EQ(c.parent, plan.targetFolder) << testing::PrintToString(c.value);
    }
}

// stack_probe is built with the program's options: "fill N" copies N bytes
// into a 16-byte local array, "guard" exits with the guard that main sees (0
// when a constructor saw another one).
TEST(Rules, StackGuard)
{
    auto probe = [](const std::wstring& arguments) {
        return testbed::RunWithRobot(
                   testbed::QuoteArgument(testbed::TestProgramFolder() + L"stack_probe.exe") + L" " + arguments, L"",
                   testbed::Environment(), {}, 30000)
            .run.exitCode;
    };
    // x64 puts 8 bytes of padding between the array and the guard.
    const struct {
        const wchar_t* bytes;
        DWORD exitCode;
    } cases[] = {{L"0", 0}, {L"16", 0}, {L"32", STATUS_STACK_BUFFER_OVERRUN}, {L"1000", STATUS_STACK_BUFFER_OVERRUN}};
    for (const auto& c : cases)
        EXPECT_EQ(c.exitCode, probe(std::wstring(L"fill ") + c.bytes)) << testing::PrintToString(c.bytes);
    std::set<DWORD> guards;
    for (int run = 0; run < 4; ++run)
        guards.insert(probe(L"guard"));
    EXPECT_EQ(4u, guards.size()) << "the guard is the same in two runs, or a constructor saw another";
    EXPECT_EQ(0u, guards.count(0));
}

}  // namespace
