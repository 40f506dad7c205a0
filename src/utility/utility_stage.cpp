#include "utility/utility_stage.h"

#include <wchar.h>

#include "log/debug_log.h"
#include "res/resource.h"
#include "system/child_process.h"
#include "ui/progress_window.h"
#include "utility/installed_utility.h"
#include "utility/installer_wait.h"
#include "utility/package_cache.h"
#include "utility/package_info.h"
#include "utility/utility_install.h"
#include "utility/utility_removal.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

void LogRestartUnderway()
{
    LogMessage(L"Windows is restarting (%d): the run ends now, without a box, which would wait in vain",
               ERROR_SUCCESS_REBOOT_INITIATED);
}

// An earlier run removed this product and did not get to install it again:
// this installation goes where the old version was, with its settings.
bool TakeOverUnfinishedUpgrade(UtilityPlan* plan)
{
    CarryOver& carry = plan->carryOver;
    if (!carry.active) {
        return false;
    }
    if (plan->installed != kNotInstalled || _wcsicmp(carry.productCode, plan->productCode) != 0) {
        LogMessage(L"Upgrade of %s left unfinished, its record left alone: the utility is installed (%s)", carry.time,
                   carry.folder);
        carry.active = false;
        return false;
    }
    plan->view = carry.view;
    StringCchCopyW(plan->installedVersion, kInstalledVersionCapacity, carry.version);
    if (!IsUsableTargetFolder(*plan, carry.targetFolder)) {
        carry.targetFolder[0] = L'\0';
    }
    StringCchCopyW(plan->targetFolder, kPathCapacity, carry.targetFolder);
    return true;
}

// The settings written down, then the old version removed. Done with nothing
// removed when no uninstall command is stored.
StepResult RemoveOldVersion(const SetupConfig& config, UtilityPlan* plan)
{
    wchar_t command[kCommandCapacity] = L"";
    wchar_t application[kPathCapacity] = L"";
    CarryOver& carry = plan->carryOver;
    StepResult result = StepFailed(static_cast<DWORD>(ReadUninstallCommand(*plan, command, application)));
    if (result.error != ERROR_SUCCESS || command[0] == L'\0') {
        return result;
    }
    FindTargetFolder(plan);
    StringCchCopyW(carry.productCode, kPathCapacity, plan->productCode);
    StringCchCopyW(carry.version, kVersionCapacity, plan->installedVersion);
    StringCchCopyW(carry.targetFolder, kPathCapacity, plan->targetFolder);
    carry.view = plan->view;
    ShowProgress(IDS_REMOVING);
    // Without a copy of the settings, on disk, the removal would lose them.
    result.error = SaveCarryOver(&carry);
    if (result.error == ERROR_SUCCESS) {
        result = RunRemoval(config, application, command);
        if (result.error != ERROR_SUCCESS) {
            DiscardCarryOver(&carry);
        } else {
            RemoveCachedVersion(plan->productCode, plan->installedVersion);
        }
    }
    CloseProgress();
    return result;
}

// The new version, then the settings of the old one in it. After a failed
// installation nothing is imported: the record stays for the next run.
StepResult InstallNewVersion(const SetupConfig& config, UtilityPlan* plan, bool finishing)
{
    CarryOver& carry = plan->carryOver;
    ShowProgress(IDS_INSTALLING);
    StepResult result = InstallUtility(config, plan);
    if (result.error != ERROR_SUCCESS && carry.active) {
        KeepCarryOver(carry);
    }
    if (result.error == ERROR_SUCCESS && carry.active) {
        // Windows restarting starts the service anyway.
        result.error = CompleteCarryOver(&carry, result.restart != kRestartUnderway);
        if (result.error == ERROR_SUCCESS && finishing) {
            LogMessage(L"Finishing the upgrade of %s: settings of %s carried over", carry.time, carry.version);
        }
    }
    CloseProgress();
    return result;
}

}  // namespace

StepResult RunUtilityStage(const SetupConfig& config, UtilityPlan* plan, UtilityAction* action)
{
    *action = kUtilityUntouched;
    StepResult result = ReadPackageProperties(plan);
    if (result.error != ERROR_SUCCESS) {
        return result;
    }
    FindInstalledUtility(plan);
    bool finishing = TakeOverUnfinishedUpgrade(plan);
    if (plan->installed == kInstalledCurrent || plan->installed == kInstalledUnreadable) {
        return StepDone();
    }
    // msiexec would answer 1618 while another installation runs, after the
    // settings were saved, or between the removal and the installation.
    result = WaitForWindowsInstaller(config, plan->installed == kInstalledOlder ? IDS_REMOVING : IDS_INSTALLING);
    if (result.error != ERROR_SUCCESS) {
        return result;
    }
    if (plan->installed == kInstalledOlder) {
        LogMessage(L"UninstallUtil() is called");
        result = RemoveOldVersion(config, plan);
        LogMessage(L"Return from UninstallUtil()");
        if (result.restart == kRestartUnderway) {
            KeepCarryOver(plan->carryOver);
            LogRestartUnderway();
        }
        if (result.error != ERROR_SUCCESS || result.restart == kRestartUnderway) {
            return result;
        }
    }
    *action = finishing ? kUtilityFinished : plan->installed == kInstalledOlder ? kUtilityUpgraded : kUtilityInstalled;
    StepResult installation = InstallNewVersion(config, plan, finishing);
    installation.restart = LaterRestart(result.restart, installation.restart);
    if (installation.restart == kRestartUnderway) {
        LogRestartUnderway();
    }
    return installation;
}
