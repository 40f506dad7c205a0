#include "setup/machine_check.h"

#include <wchar.h>

#include "driver/driver_pass.h"
#include "driver/driver_version.h"
#include "log/debug_log.h"
#include "res/resource.h"
#include "setup/os_requirement.h"
#include "setup/run_lock.h"
#include "setup/run_record.h"
#include "ui/message_boxes.h"
#include "utility/installed_utility.h"
#include "utility/installer_wait.h"
#include "utility/package_info.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const int kFindingsCapacity = 2048;
const int kLineCapacity = 512;

// What a run would find. Texts of versions are empty when there is none.
struct Findings {
    wchar_t utilityInstalled[kInstalledVersionCapacity];
    wchar_t utilityPackaged[kVersionCapacity];
    bool utilityWouldChange;
    bool utilityUnfinished;
    wchar_t driverInstalled[kVersionTextCapacity];
    wchar_t driverPackaged[kVersionTextCapacity];
    bool driverWouldChange;
    bool installerBusy;
    bool restartPending;
};

const wchar_t* const kRestartMarkers[][2] = {
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending", NULL},
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired", NULL},
    {L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"PendingFileRenameOperations"},
};

// The markers Windows keeps while a restart is due.
bool IsRestartPending()
{
    for (const auto& marker : kRestartMarkers) {
        HKEY key = NULL;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, marker[0], 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
            continue;
        }
        bool found = marker[1] == NULL || RegQueryValueExW(key, marker[1], NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (found) {
            return true;
        }
    }
    return false;
}

// The package named in Inst.Inf as it lies in the product folder: a check
// makes no copy.
DWORD FindUtility(const SetupConfig& config, UtilityPlan* plan, Findings* findings)
{
    if (PackageName(config)[0] == L'\0') {
        return ERROR_SUCCESS;
    }
    if (FAILED(StringCchPrintfW(plan->package, kPathCapacity, L"%s%s", config.programDirectory, PackageName(config)))) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    StepResult read = ReadPackageProperties(plan);
    if (read.error != ERROR_SUCCESS) {
        return read.error;
    }
    FindInstalledUtility(plan);
    StringCchCopyW(findings->utilityPackaged, kVersionCapacity, plan->packageVersion);
    StringCchCopyW(findings->utilityInstalled, kInstalledVersionCapacity, plan->installedVersion);
    findings->utilityUnfinished = plan->carryOver.active && plan->installed == kNotInstalled;
    findings->utilityWouldChange = plan->installed == kNotInstalled || plan->installed == kInstalledOlder;
    return ERROR_SUCCESS;
}

// 87 when a version cannot be read: a run would fail there.
DWORD FindDriver(const DriverEntry& entry, const PendingDriverUpdate& pending, Findings* findings)
{
    if (!ReadInfDriverVersion(entry.infPath, findings->driverPackaged) ||
        !ReadInstalledDriverVersion(entry.deviceName, findings->driverInstalled)) {
        return kDriverPassFailed;
    }
    bool waiting = pending.waiting && _wcsicmp(pending.infPath, entry.infPath) == 0 &&
                   wcscmp(pending.version, findings->driverPackaged) == 0;
    findings->restartPending = findings->restartPending || waiting;
    findings->driverWouldChange =
        !waiting && CompareDriverVersions(findings->driverInstalled, findings->driverPackaged) == 1;
    return ERROR_SUCCESS;
}

void AppendLine(wchar_t* text, UINT id, const wchar_t* first = NULL, const wchar_t* second = NULL)
{
    wchar_t format[kLineCapacity];
    wchar_t line[kLineCapacity];
    wchar_t none[kLineCapacity];
    LoadText(id, format, kLineCapacity);
    LoadText(IDS_CHECK_NONE, none, kLineCapacity);
    StringCchPrintfW(line, kLineCapacity, format, first != NULL && first[0] != L'\0' ? first : none,
                     second != NULL && second[0] != L'\0' ? second : none);
    StringCchCatW(text, kFindingsCapacity, text[0] != L'\0' ? L"\n" : L"");
    StringCchCatW(text, kFindingsCapacity, line);
}

// The box in the user interface's language.
void ShowFindings(const Findings& findings, bool wouldChange, bool utilityNamed)
{
    wchar_t text[kFindingsCapacity] = L"";
    AppendLine(text, IDS_CHECK_HEADER);
    if (utilityNamed) {
        AppendLine(text, IDS_CHECK_UTILITY, findings.utilityInstalled, findings.utilityPackaged);
    }
    AppendLine(text, IDS_CHECK_DRIVER, findings.driverInstalled, findings.driverPackaged);
    AppendLine(text, wouldChange ? IDS_CHECK_WOULD_CHANGE : IDS_CHECK_NO_CHANGE);
    if (findings.utilityUnfinished) {
        AppendLine(text, IDS_CHECK_UNFINISHED);
    }
    if (findings.installerBusy) {
        AppendLine(text, IDS_CHECK_INSTALLER_BUSY);
    }
    if (findings.restartPending) {
        AppendLine(text, IDS_CHECK_RESTART_PENDING);
    }
    ShowInformation(text);
}

// One English sentence for the record and the log.
void DescribeFindings(const Findings& findings, bool wouldChange, wchar_t* text, size_t capacity)
{
    StringCchPrintfW(text, capacity, L"%s: utility %s (installed %s), driver %s (installed %s)%s%s%s.",
                     wouldChange ? L"A run would change this machine" : L"A run would change nothing",
                     findings.utilityPackaged[0] != L'\0' ? findings.utilityPackaged : L"none",
                     findings.utilityInstalled[0] != L'\0' ? findings.utilityInstalled : L"none",
                     findings.driverPackaged, findings.driverInstalled[0] != L'\0' ? findings.driverInstalled : L"none",
                     findings.utilityUnfinished ? L"; an unfinished upgrade waits" : L"",
                     findings.installerBusy ? L"; Windows Installer is busy" : L"",
                     findings.restartPending ? L"; a restart is pending" : L"");
}

RunOutcome CheckMachine(const SetupConfig& config, UtilityPlan* plan, Findings* findings)
{
    PendingDriverUpdate pending;
    DriverPassReport report;
    RunOutcome stopped;
    if (FindWhatStopsARun(config, plan, &pending, &report, &stopped)) {
        return stopped;
    }
    findings->restartPending = IsRestartPending();
    findings->installerBusy = IsWindowsInstallerBusy();
    DWORD found = FindUtility(config, plan, findings);
    if (found == ERROR_SUCCESS) {
        found = FindDriver(config.drivers[report.entry], pending, findings);
    }
    if (found != ERROR_SUCCESS) {
        return Ended(kEndedFailed, found, L"a run would fail here");
    }
    bool wouldChange = findings->utilityWouldChange || findings->driverWouldChange;
    ShowFindings(*findings, wouldChange, PackageName(config)[0] != L'\0');
    return Ended(kEndedChecked, wouldChange ? kExitCheckWouldChange : 0);
}

}  // namespace

bool FindWhatStopsARun(const SetupConfig& config, UtilityPlan* plan, PendingDriverUpdate* pending,
                       DriverPassReport* report, RunOutcome* stopped)
{
    DWORD record = FindUnfinishedCarryOver(&plan->carryOver);
    if (record != ERROR_SUCCESS) {
        *stopped = Ended(kEndedFailed, record, L"the record of an unfinished upgrade cannot be used");
        return true;
    }
    if (!CheckOsRequirement(config)) {
        ShowMessage(IDS_OS_NOT_SUPPORTED, MB_ICONERROR);
        *stopped = Ended(kEndedRefused, 0, L"Windows is older than OSVER of Inst.Inf");
        return true;
    }
    ReadPendingDriverUpdate(pending);
    int status = RunDriverPass(config, kDetectMode, *pending, report);
    if (status != kDriverCurrent) {
        ShowMessage(status == kDeviceAbsent ? IDS_NO_CONTROLLER : IDS_NO_FILES, MB_ICONERROR);
        *stopped = Ended(kEndedRefused, 0,
                         status == kDeviceAbsent ? L"no configured controller is present"
                                                 : L"a driver entry of Inst.Inf is incomplete");
        return true;
    }
    return false;
}

RunOutcome RunCheck(const SetupConfig& config)
{
    wchar_t result[kFindingsCapacity] = L"";
    HANDLE lock = NULL;
    RunOutcome outcome = Ended(kEndedFailed, ERROR_INSTALL_ALREADY_RUNNING, L"another setup is running");
    Findings* findings = static_cast<Findings*>(LocalAlloc(LPTR, sizeof(Findings)));
    UtilityPlan* plan = static_cast<UtilityPlan*>(LocalAlloc(LPTR, sizeof(UtilityPlan)));
    LogMessage(L"Check only: nothing is changed");
    if (findings == NULL || plan == NULL) {
        outcome = Ended(kEndedFailed, ERROR_NOT_ENOUGH_MEMORY);
    } else if (TakeRunLock(&lock)) {
        outcome = CheckMachine(config, plan, findings);
        ReleaseRunLock(lock);
    }
    if (outcome.ending == kEndedChecked) {
        DescribeFindings(*findings, outcome.number != 0, result, kFindingsCapacity);
        LogMessage(L"Check: %s", result);
    }
    outcome.check = true;
    WriteCheckRecord(outcome, ToExitCode(outcome, config), result);
    LocalFree(plan);
    LocalFree(findings);
    return outcome;
}
