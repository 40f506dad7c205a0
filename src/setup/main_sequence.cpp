#include "setup/main_sequence.h"

#include "config/setup_config.h"
#include "core/platform.h"
#include "core/process_state.h"
#include "driver/driver_pass.h"
#include "log/debug_log.h"
#include "res/resource.h"
#include "setup/command_line.h"
#include "setup/exit_code.h"
#include "setup/hand_over.h"
#include "setup/os_requirement.h"
#include "setup/restart.h"
#include "setup/run_lock.h"
#include "ui/message_boxes.h"
#include "utility/package_info.h"
#include "utility/utility_stage.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kLogFileName[] = L"devupd.log";

bool IsOptionLead(wchar_t c)
{
    return c == L'-' || c == L'/';
}

// Every argument must be an option; the first that is not ends the check.
bool CheckOptions(int count, wchar_t** arguments)
{
    for (int index = 1; index < count; ++index) {
        OptionVerdict verdict = CheckOption(arguments[index]);
        if (verdict == kOptionInvalid) {
            return false;
        }
        g_process.quiet = g_process.quiet || verdict == kOptionQuiet;
    }
    return true;
}

// Looks for a quiet option without judging the others, for a run that ends
// before the options are checked.
bool HasQuietOption(int count, wchar_t** arguments)
{
    for (int index = 1; index < count; ++index) {
        if (CheckOption(arguments[index]) == kOptionQuiet) {
            return true;
        }
    }
    return false;
}

// A log path that does not fit leaves the log off rather than writing into
// some other file.
void StartLogWhenAsked(const SetupConfig& config)
{
    wchar_t path[kPathCapacity];
    if (config.debug != 0 &&
        SUCCEEDED(StringCchPrintfW(path, kPathCapacity, L"%s%s", config.programDirectory, kLogFileName))) {
        StartDebugLog(path);
        LogMessage(L"Program name is %s%s", config.programDirectory, config.programName);
    }
}

// The utility, then the driver; a failed utility stage leaves the driver
// alone, and Windows restarting ends the run at once.
RunOutcome RunConfirmedStages(const SetupConfig& config, UtilityPlan* plan)
{
    bool installed = false;
    StepResult utility = PackageName(config)[0] == L'\0' ? StepDone() : RunUtilityStage(config, plan, &installed);
    if (utility.restart == kRestartUnderway) {
        return Ended(kEndedDone, 0, kRestartUnderway);
    }
    if (utility.error != ERROR_SUCCESS) {
        return Ended(kEndedFailed, utility.error);
    }
    int driver = RunDriverPass(config, kUpdateMode);
    Restart restart = LaterRestart(utility.restart, driver == kDriverNeedsRestart ? kRestartDue : kNoRestart);
    RunOutcome outcome = driver == kDriverCurrent || driver == kDriverNeedsRestart
                             ? Ended(kEndedDone, 0, restart)
                             : Ended(kEndedFailed, kDriverPassFailed, restart);
    outcome.utilityInstalled = installed;
    return outcome;
}

// From the record of an unfinished upgrade to the driver, with the run lock held.
RunOutcome RunStages(const SetupConfig& config, UtilityPlan* plan)
{
    DWORD record = FindUnfinishedCarryOver(&plan->carryOver);
    if (record != ERROR_SUCCESS) {
        return Ended(kEndedFailed, record);
    }
    if (!CheckOsRequirement(config)) {
        ShowMessage(IDS_OS_NOT_SUPPORTED, MB_ICONERROR);
        return Ended(kEndedRefused);
    }
    int status = RunDriverPass(config, kDetectMode);
    if (status != kDriverCurrent) {
        ShowMessage(status == kDeviceAbsent ? IDS_NO_CONTROLLER : IDS_NO_FILES, MB_ICONERROR);
        return Ended(kEndedRefused);
    }
    // What is asked about is what is installed, whatever happens to the
    // product folder meanwhile.
    CopyPackageToCache(config, plan);
    bool driverOnly = PackageName(config)[0] == L'\0';
    RunOutcome outcome = AskYesNo(driverOnly ? IDS_CONFIRM_DRIVER : IDS_CONFIRM_UTILITY)
                             ? RunConfirmedStages(config, plan)
                             : Ended(kEndedDeclined);
    RemovePackageCopyUnlessKept(*plan);
    return outcome;
}

// A second run ends before it reads the machine, so that it neither changes
// anything nor decides on what the first run is changing.
RunOutcome RunAlone(const SetupConfig& config)
{
    HANDLE lock = NULL;
    if (!TakeRunLock(&lock)) {
        LogMessage(L"Another setup is running");
        return Ended(kEndedFailed, ERROR_INSTALL_ALREADY_RUNNING);
    }
    UtilityPlan* plan = static_cast<UtilityPlan*>(LocalAlloc(LPTR, sizeof(UtilityPlan)));
    RunOutcome outcome = plan != NULL ? RunStages(config, plan) : Ended(kEndedFailed, ERROR_NOT_ENOUGH_MEMORY);
    LocalFree(plan);
    ReleaseRunLock(lock);
    return outcome;
}

RunOutcome RunMainSequence(int count, wchar_t** arguments, SetupConfig* config)
{
    if (!LocateSetupFile(config)) {
        // Shown in quiet mode too, but a quiet run must not wait on a box
        // where nobody sees it.
        g_process.quiet = HasQuietOption(count, arguments);
        ShowMessageEvenWhenQuiet(IDS_NO_FILES, MB_ICONERROR);
        return Ended(kEndedNoSetupFile);
    }
    ReadSetupConfig(config);
    StartLogWhenAsked(*config);
    if (!CheckOptions(count, arguments)) {
        return Ended(kEndedRefused);
    }
    // Before the version check: OSVER 6.0 or later is never met under WOW64.
    // Before the lock too: the edition handed over to takes it.
    if (!Is64BitBuild() && IsRunningUnderWow64()) {
        return HandOverTo64BitSetup(*config);
    }
    return RunAlone(*config);
}

// The last box of a run that did not show its own: the failure with the exit
// code, the restart question, completion or "already installed".
void ReportOutcome(const RunOutcome& outcome, DWORD exitCode)
{
    if (outcome.ending == kEndedFailed) {
        ShowFailure(static_cast<int>(exitCode));
    }
    if (outcome.restart == kRestartDue) {
        RebootSystem();
    } else if (outcome.ending == kEndedDone && outcome.restart == kNoRestart) {
        if (outcome.utilityInstalled) {
            ShowCompleted();
        } else {
            ShowMessage(IDS_ALREADY_INSTALLED, MB_OK);
        }
    }
}

}  // namespace

OptionVerdict CheckOption(const wchar_t* argument)
{
    if (!IsOptionLead(argument[0])) {
        return kOptionInvalid;
    }
    wchar_t letter = argument[1];
    if (letter == L'D' || letter == L'U') {
        return kOptionAccepted;
    }
    if (letter != L'Q' && letter != L'q') {
        return kOptionInvalid;
    }
    wchar_t third = argument[2];
    return third == L'N' || third == L'n' ? kOptionQuiet : kOptionAccepted;
}

DWORD RunSetup(HINSTANCE instance)
{
    g_process.instanceHandle = instance;
    int count = 0;
    SetupConfig* config = static_cast<SetupConfig*>(LocalAlloc(LPTR, sizeof(SetupConfig)));
    wchar_t** arguments = SplitCommandLine(GetCommandLineW(), &count);
    RunOutcome outcome = Ended(kEndedNoSetupFile);
    DWORD exitCode = kExitNoSetupFile;
    if (config == NULL || arguments == NULL || count < 1) {
        // Without the arguments not even quiet mode can be told.
        ShowMessage(IDS_NO_FILES, MB_ICONERROR);
        goto cleanup;
    }
    outcome = RunMainSequence(count, arguments, config);
    exitCode = ToExitCode(outcome, *config);
    ReportOutcome(outcome, exitCode);

cleanup:
    if (arguments != NULL) {
        LocalFree(arguments);
    }
    if (config != NULL) {
        LocalFree(config);
    }
    return exitCode;
}
