#pragma once

#include <string>
#include <vector>

#include "scenario.h"

std::wstring SystemFolder();
// Wine keeps regedit.exe in the Windows folder only.
std::wstring WindowsFolder();

// The utility's package in the product folder, a controller with a current
// driver, a temporary folder of the case's own, and the machine's ZELMON
// removed again afterwards. A registry view (KEY_WOW64_32KEY, KEY_WOW64_64KEY,
// 0 for the test program's own) says where the utility's keys are looked for.
class Utility : public Scenario {
protected:
    void SetUp() override;
    void TearDown() override;
    void PrepareProduct(const std::wstring& package);
    // Inst.Inf naming the package, for the one controller of the case.
    void NamePackage(const std::wstring& package);
    // The old version, installed by the Windows Installer into apps_, with a
    // setting of the administrator's.
    void InstallOld(const std::wstring& package, REGSAM view = 0);
    // TEMP and TMP pointing at the case's own temporary folder.
    testbed::Environment TempEnvironment() const;
    testbed::RunResult RunUpgrade(const std::wstring& arguments, const std::vector<testbed::Answer>& answers,
                                  const std::wstring& currentDir = std::wstring());
    std::vector<std::wstring> Messages() const;
    // The messages from the first equal to first up to and including last.
    std::vector<std::wstring> LogBetween(const std::wstring& first, const std::wstring& last) const;
    bool Logged(const std::wstring& line) const;
    // The settings folders that runs left in the temporary folder.
    std::vector<std::wstring> SettingsFolders() const;
    std::wstring SettingsFile() const;
    std::wstring Regedit() const;
    std::wstring Net() const;
    // Nothing of the new version came, the old one is as it was.
    void ExpectOldVersionUntouched(REGSAM view = 0);
    void ExpectUpgraded(REGSAM view = 0);

    std::wstring apps_;
    std::wstring temp_;
    Entry controller_;
};
