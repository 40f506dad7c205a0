#include <string>
#include <vector>

#include "scenario.h"

namespace {

using testbed::Answer;
using testbed::Button;

// Windows DLLs that are not known DLLs, so that a Windows loader would look for
// them in the program's folder first. version.dll is one too, but Wine's own
// user32 imports it before any code of the program runs (Windows' user32 does
// not), so under Wine its planted copy says nothing about the program.
const wchar_t* const kPlantedNames[] = {L"setupapi", L"newdev", L"msi", L"shlwapi"};

class DllPlanting : public Scenario {
protected:
    void Plant(const std::wstring& folder)
    {
        for (const wchar_t* name : kPlantedNames) {
            ASSERT_TRUE(testbed::CopyFileTo(TestProgramFolder() + L"planted.dll", folder + name + L".dll"));
        }
    }
    std::vector<std::wstring> Loaded(const std::wstring& folder) const
    {
        std::vector<std::wstring> loaded;
        for (const wchar_t* name : kPlantedNames) {
            std::wstring marker = folder + name + L".dll.loaded";
            if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
                loaded.push_back(name);
            }
        }
        return loaded;
    }
    // Wine prefers its own DLLs unless told otherwise for a program; then it
    // searches as Windows does.
    void PreferPlanted(const std::wstring& program, const std::wstring& name)
    {
        overridden_.push_back(program);
        ASSERT_TRUE(testbed::SetDllOverride(program, name, L"native,builtin"));
    }
    void TearDown() override
    {
        for (const std::wstring& program : overridden_) {
            testbed::RemoveDllOverrides(program);
        }
        Scenario::TearDown();
    }

private:
    std::vector<std::wstring> overridden_;
};

TEST_F(DllPlanting, ACarelessProgramWouldLoadEachPlantedDll)
{
    Plant(ProductFolder());
    ASSERT_TRUE(testbed::CopyFileTo(TestProgramFolder() + L"naive_loader.exe", ProductFolder() + L"naive_loader.exe"));
    for (const wchar_t* name : kPlantedNames) {
        testbed::RemoveDllOverrides(L"naive_loader.exe");
        PreferPlanted(L"naive_loader.exe", name);
        std::wstring command = testbed::QuoteArgument(ProductFolder() + L"naive_loader.exe") + L" " + name + L".dll";
        testbed::ChildRun run = testbed::RunChild(command, ProductFolder(), testbed::Environment(), 30000);
        EXPECT_TRUE(run.started && !run.timedOut) << testing::PrintToString(name);
    }
    EXPECT_EQ(std::vector<std::wstring>(std::begin(kPlantedNames), std::end(kPlantedNames)), Loaded(ProductFolder()));
}

TEST_F(DllPlanting, SetupLoadsNoDllFromItsFolderOrTheCurrentFolder)
{
    const std::wstring current = Folder() + L"current\\";
    ASSERT_TRUE(CreateDirectoryW(current.c_str(), NULL));
    Plant(ProductFolder());
    Plant(current);
    for (const wchar_t* name : kPlantedNames) {
        PreferPlanted(L"setup.exe", name);
    }
    WriteSetupFile({AddCurrentController()}, "MSI=util.msi\r\n");
    testbed::RunResult result =
        RunSetup(L"", {Answer(Button::Yes), Answer(Button::Ok)}, testbed::Environment(), current);
    // util.msi is missing: Wine's Windows Installer answers 1627 after msi.dll was loaded.
    EXPECT_EQ(1627u, result.run.exitCode);
    EXPECT_EQ(2u, result.boxes.size()) << "the run went through detection, the question and the package";
    EXPECT_EQ(std::vector<std::wstring>(), Loaded(ProductFolder()));
    EXPECT_EQ(std::vector<std::wstring>(), Loaded(current));
}

}  // namespace
