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
#include "setup/machine_check.h"
#include "setup/restart.h"
#include "setup/run_lock.h"
#include "setup/run_record.h"
#include "system/admin_folders.h"
#include "ui/message_boxes.h"
#include "utility/package_info.h"
#include "utility/utility_stage.h"
#include "version.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kLogFileName[] = L"devupd.log";
const wchar_t kLogsFolder[] = L"Logs";
// The machine folder keeps the logs of the newest runs.
const int kKeptLogs = 20;
const int kTimeCapacity = 40;

bool IsOptionLead(wchar_t c)
{
    return c == L'-' || c == L'/';
}

// Every argument must be an option; the first that is not ends the check.
bool CheckOptions(int count, wchar_t** arguments, bool* checkOnly)
{
    for (int index = 1; index < count; ++index) {
        OptionVerdict verdict = CheckOption(arguments[index]);
        if (verdict == kOptionInvalid) {
            LogMessage(L"Invalid option %s: the run ends", arguments[index]);
            return false;
        }
        g_process.quiet = g_process.quiet || verdict == kOptionQuiet;
        *checkOnly = *checkOnly || verdict == kOptionCheck;
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

// The local time and its offset from UTC, "2026-12-08 19:04:05 +01:00".
void FormatLocalTime(wchar_t* text)
{
    SYSTEMTIME now;
    TIME_ZONE_INFORMATION zone;
    GetLocalTime(&now);
    DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias + (which == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
    LONG offset = which == TIME_ZONE_ID_INVALID ? 0 : -bias;
    StringCchPrintfW(text, kTimeCapacity, L"%04u-%02u-%02u %02u:%02u:%02u %c%02ld:%02ld", now.wYear, now.wMonth,
                     now.wDay, now.wHour, now.wMinute, now.wSecond, offset < 0 ? L'-' : L'+',
                     (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
}

// With Debug, the log beside the program, where a deployment tool's content
// cache may delete it, and a log of this run's own in the machine folder,
// which outlives it. A log path that does not fit is no log: it would be some
// other file.
void StartLogWhenAsked(const SetupConfig& config)
{
    wchar_t beside[kPathCapacity] = L"";
    wchar_t machine[kPathCapacity] = L"";
    wchar_t aside[kPathCapacity] = L"";
    wchar_t time[kTimeCapacity];
    if (config.debug == 0) {
        return;
    }
    if (FAILED(StringCchPrintfW(beside, kPathCapacity, L"%s%s", config.programDirectory, kLogFileName))) {
        beside[0] = L'\0';
    }
    if (OpenMachineFolder(kLogsFolder, machine, aside) != ERROR_SUCCESS) {
        machine[0] = L'\0';
    }
    bool besideWritten = StartDebugLog(beside, machine);
    FormatLocalTime(time);
    LogMessage(L"VANTIRO RAID Setup %s, %s-bit edition, started %s, command line: %s", L"" SETUP_VERSION_TEXT,
               Is64BitBuild() ? L"64" : L"32", time, GetCommandLineW());
    if (!besideWritten) {
        LogMessage(L"The product folder takes no log (%s): this log is the run's only one", beside);
    }
    if (aside[0] != L'\0') {
        LogMessage(L"Set aside %s: others than administrators could change it", aside);
    }
    LogMessage(L"Program name is %s%s", config.programDirectory, config.programName);
    if (machine[0] != L'\0') {
        PruneMachineLogs(machine, kKeptLogs);
    }
}

// The utility, then the driver; a failed utility stage leaves the driver
// alone, and Windows restarting ends the run at once.
RunOutcome RunConfirmedStages(const SetupConfig& config, UtilityPlan* plan, RunFacts* facts)
{
    UtilityAction action = kUtilityUntouched;
    StepResult utility = PackageName(config)[0] == L'\0' ? StepDone() : RunUtilityStage(config, plan, &action);
    facts->productCode = plan->productCode;
    RunOutcome outcome = Ended(kEndedDone);
    outcome.utility = action;
    if (utility.restart == kRestartUnderway) {
        outcome.restart = kRestartUnderway;
        return outcome;
    }
    if (utility.error != ERROR_SUCCESS) {
        return Ended(kEndedFailed, utility.error, L"the utility stage failed, the driver was left alone");
    }
    int driver = RunDriverPass(config, kUpdateMode, facts->pending, &facts->driver);
    facts->driverPassRan = true;
    if (driver != kDriverCurrent && driver != kDriverNeedsRestart) {
        outcome = Ended(kEndedFailed, kDriverPassFailed, L"the driver update failed");
        outcome.utility = action;
    }
    outcome.driverUpdated = facts->driver.updated;
    outcome.restart = LaterRestart(utility.restart, facts->driver.restartPending ? kRestartDue : kNoRestart);
    return outcome;
}

// From the record of an unfinished upgrade to the driver, with the run lock held.
RunOutcome RunStages(const SetupConfig& config, UtilityPlan* plan, RunFacts* facts)
{
    RunOutcome stopped;
    if (FindWhatStopsARun(config, plan, &facts->pending, &facts->driver, &stopped)) {
        return stopped;
    }
    facts->driverEntry = facts->driver.entry;
    // What is asked about is what is installed, whatever happens to the
    // product folder meanwhile.
    CopyPackageToCache(config, plan);
    bool driverOnly = PackageName(config)[0] == L'\0';
    RunOutcome outcome = AskYesNo(driverOnly ? IDS_CONFIRM_DRIVER : IDS_CONFIRM_UTILITY)
                             ? RunConfirmedStages(config, plan, facts)
                             : Ended(kEndedDeclined);
    RemovePackageCopyUnlessKept(*plan);
    return outcome;
}

// A second run ends before it reads the machine, so that it neither changes
// anything nor decides on what the first run is changing.
RunOutcome RunAlone(const SetupConfig& config, UtilityPlan* plan, RunFacts* facts)
{
    HANDLE lock = NULL;
    if (!TakeRunLock(&lock)) {
        LogMessage(L"Another setup is running");
        return Ended(kEndedFailed, ERROR_INSTALL_ALREADY_RUNNING, L"another setup is running");
    }
    RunOutcome outcome = RunStages(config, plan, facts);
    ReleaseRunLock(lock);
    return outcome;
}

RunOutcome RunMainSequence(int count, wchar_t** arguments, SetupConfig* config, UtilityPlan* plan, RunFacts* facts)
{
    bool checkOnly = false;
    if (!LocateSetupFile(config)) {
        // Shown in quiet mode too, but a quiet run must not wait on a box
        // where nobody sees it.
        g_process.quiet = HasQuietOption(count, arguments);
        ShowMessageEvenWhenQuiet(IDS_NO_FILES, MB_ICONERROR);
        return Ended(kEndedNoSetupFile);
    }
    ReadSetupConfig(config);
    StartLogWhenAsked(*config);
    if (!CheckOptions(count, arguments, &checkOnly)) {
        return Ended(kEndedBadOption);
    }
    // Before the version check: OSVER 6.0 or later is never met under WOW64.
    // Before the lock too: the edition handed over to takes it.
    if (!Is64BitBuild() && IsRunningUnderWow64()) {
        return HandOverTo64BitSetup(*config);
    }
    return checkOnly ? RunCheck(*config) : RunAlone(*config, plan, facts);
}

// The last box of a run that did not show its own: the failure with the exit
// code, the restart question, completion or "already installed".
void ReportOutcome(const RunOutcome& outcome, DWORD exitCode)
{
    // A check has shown its findings; it has no restart or completion.
    if (outcome.check || outcome.ending == kEndedChecked) {
        if (outcome.ending == kEndedFailed) {
            ShowFailure(static_cast<int>(exitCode));
        }
        return;
    }
    if (outcome.ending == kEndedFailed) {
        ShowFailure(static_cast<int>(exitCode));
    }
    if (outcome.restart == kRestartDue) {
        RebootSystem();
    } else if (outcome.ending == kEndedDone && outcome.restart == kNoRestart) {
        if (outcome.utility != kUtilityUntouched) {
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
    if (letter == L'C' || letter == L'c') {
        return kOptionCheck;
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
    UtilityPlan* plan = static_cast<UtilityPlan*>(LocalAlloc(LPTR, sizeof(UtilityPlan)));
    RunFacts facts = {L"", -1, false, {}, {}};
    wchar_t** arguments = SplitCommandLine(GetCommandLineW(), &count);
    RunOutcome outcome = Ended(kEndedNoSetupFile);
    DWORD exitCode = kExitNoSetupFile;
    if (config == NULL || plan == NULL || arguments == NULL || count < 1) {
        // Without the arguments not even quiet mode can be told.
        ShowMessage(IDS_NO_FILES, MB_ICONERROR);
        goto cleanup;
    }
    outcome = RunMainSequence(count, arguments, config, plan, &facts);
    exitCode = ToExitCode(outcome, *config);
    ReportOutcome(outcome, exitCode);
    // setup64.exe records the run it was handed; a bad option ends before
    // the run looks at anything.
    if (outcome.ending != kEndedHandedOver && outcome.ending != kEndedBadOption && !outcome.check) {
        WriteRunRecord(outcome, exitCode, facts, *config);
    }

cleanup:
    if (arguments != NULL) {
        LocalFree(arguments);
    }
    LocalFree(plan);
    LocalFree(config);
    return exitCode;
}
