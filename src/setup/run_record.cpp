#include "setup/run_record.h"

#include <sddl.h>
#include <wchar.h>

#include "core/platform.h"
#include "log/debug_log.h"
#include "utility/installed_utility.h"
#include "version.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const wchar_t kRecordKey[] = L"SOFTWARE\\VANTIRO\\RAID Setup";
// Full control for SYSTEM and Administrators, reading for users; nothing
// inherited from SOFTWARE\VANTIRO.
const wchar_t kRecordRights[] = L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
const int kResultCapacity = 512;
const int kTimeCapacity = 32;
const DWORD kDisplayVersionBytes = 64;
const ULONGLONG kTicksPerMillisecond = 10000;

// The key with its rights set, whoever made it first.
HKEY OpenRecordKey(REGSAM access)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NULL, FALSE};
    HKEY key = NULL;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kRecordRights, SDDL_REVISION_1, &descriptor, NULL)) {
        attributes.lpSecurityDescriptor = descriptor;
    }
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, NULL, 0, access | WRITE_DAC | KEY_WOW64_64KEY,
                                  &attributes, &key, NULL);
    if (status == ERROR_SUCCESS && descriptor != NULL) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    }
    if (status != ERROR_SUCCESS) {
        LogMessage(L"Run record not written err=%d", static_cast<int>(status));
        key = NULL;
    }
    LocalFree(descriptor);
    return key;
}

void SetText(HKEY key, const wchar_t* name, const wchar_t* value)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

void SetNumber(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

ULONGLONG Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void FormatUtcTime(wchar_t* text)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    StringCchPrintfW(text, kTimeCapacity, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                     now.wMinute, now.wSecond);
}

const wchar_t* DescribeUtility(UtilityAction action)
{
    switch (action) {
        case kUtilityInstalled:
            return L"The utility was installed";
        case kUtilityUpgraded:
            return L"The utility was upgraded";
        case kUtilityFinished:
            return L"An unfinished upgrade of the utility was finished";
        default:
            return NULL;
    }
}

// One short English sentence: what was done, or why not.
void ComposeResult(const RunOutcome& outcome, DWORD exitCode, wchar_t* text)
{
    const wchar_t* reason = outcome.reason != NULL ? outcome.reason : L"see the log";
    const wchar_t* utility = DescribeUtility(outcome.utility);
    const wchar_t* restart = outcome.restart == kRestartDue        ? L"; a restart is due"
                             : outcome.restart == kRestartUnderway ? L"; Windows is restarting"
                                                                   : L"";
    switch (outcome.ending) {
        case kEndedNoSetupFile:
            StringCchCopyW(text, kResultCapacity, L"Inst.Inf was not found beside the program.");
            return;
        case kEndedDeclined:
            StringCchCopyW(text, kResultCapacity, L"The user answered No; nothing was changed.");
            return;
        case kEndedRefused:
            StringCchPrintfW(text, kResultCapacity, L"Refused, nothing changed: %s.", reason);
            return;
        case kEndedFailed:
            StringCchPrintfW(text, kResultCapacity, L"Failed with %lu: %s%s.", exitCode, reason, restart);
            return;
        default:
            break;
    }
    if (utility == NULL && !outcome.driverUpdated) {
        StringCchPrintfW(text, kResultCapacity, L"Nothing to do: the utility and the driver are up to date%s.",
                         restart);
    } else if (utility == NULL) {
        StringCchPrintfW(text, kResultCapacity, L"The driver was updated%s.", restart);
    } else {
        StringCchPrintfW(text, kResultCapacity, L"%s%s%s.", utility,
                         outcome.driverUpdated ? L", and the driver updated" : L"", restart);
    }
}

void ReadUtilityVersion(const wchar_t* productCode, wchar_t* version)
{
    HKEY key = NULL;
    REGSAM view = 0;
    DWORD size = kDisplayVersionBytes;
    version[0] = L'\0';
    if (productCode[0] == L'\0' || OpenUninstallEntry(productCode, &key, &view) != ERROR_SUCCESS) {
        return;
    }
    if (RegQueryValueExW(key, L"DisplayVersion", NULL, NULL, reinterpret_cast<BYTE*>(version), &size) !=
        ERROR_SUCCESS) {
        size = 0;
    }
    version[size / sizeof(wchar_t)] = L'\0';
    RegCloseKey(key);
}

// The update that waits for a restart: kept while the same one waits, set
// when this run made it, gone once the pass found nothing waiting.
void RecordPendingDriverUpdate(HKEY key, const RunFacts& facts, const SetupConfig& config)
{
    if (!facts.driverPassRan) {
        return;
    }
    if (!facts.driver.restartPending || facts.driver.entry < 0) {
        RegDeleteValueW(key, L"DriverRestartInf");
        RegDeleteValueW(key, L"DriverRestartVersion");
        RegDeleteValueW(key, L"DriverRestartTime");
        return;
    }
    const wchar_t* inf = config.drivers[facts.driver.entry].infPath;
    if (facts.pending.waiting && _wcsicmp(facts.pending.infPath, inf) == 0 &&
        wcscmp(facts.pending.version, facts.driver.version) == 0) {
        return;
    }
    ULONGLONG now = Now();
    SetText(key, L"DriverRestartInf", inf);
    SetText(key, L"DriverRestartVersion", facts.driver.version);
    RegSetValueExW(key, L"DriverRestartTime", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&now), sizeof(now));
}

}  // namespace

void WriteRunRecord(const RunOutcome& outcome, DWORD exitCode, const RunFacts& facts, const SetupConfig& config)
{
    wchar_t result[kResultCapacity] = L"";
    wchar_t time[kTimeCapacity] = L"";
    wchar_t utility[kDisplayVersionBytes / sizeof(wchar_t) + 1] = L"";
    wchar_t driver[kVersionTextCapacity] = L"";
    HKEY key = OpenRecordKey(KEY_SET_VALUE);
    if (key == NULL) {
        return;
    }
    ComposeResult(outcome, exitCode, result);
    FormatUtcTime(time);
    ReadUtilityVersion(facts.productCode, utility);
    if (facts.driverEntry >= 0 && !ReadInstalledDriverVersion(config.drivers[facts.driverEntry].deviceName, driver)) {
        driver[0] = L'\0';
    }
    SetNumber(key, L"LastExitCode", exitCode);
    SetText(key, L"LastRunTime", time);
    SetText(key, L"LastResult", result);
    SetText(key, L"UtilityVersion", utility);
    SetText(key, L"DriverVersion", driver);
    SetNumber(key, L"RestartDue", outcome.restart != kNoRestart ? 1 : 0);
    SetText(key, L"LogFile", MachineLogPath());
    SetText(key, L"SetupVersion", L"" SETUP_VERSION_TEXT);
    RecordPendingDriverUpdate(key, facts, config);
    RegCloseKey(key);
}

void WriteCheckRecord(const RunOutcome& outcome, DWORD exitCode, const wchar_t* findings)
{
    wchar_t result[kResultCapacity] = L"";
    wchar_t time[kTimeCapacity] = L"";
    HKEY key = OpenRecordKey(KEY_SET_VALUE);
    if (key == NULL) {
        return;
    }
    if (findings[0] != L'\0') {
        StringCchCopyW(result, kResultCapacity, findings);
    } else {
        ComposeResult(outcome, exitCode, result);
    }
    FormatUtcTime(time);
    SetNumber(key, L"LastCheckExitCode", exitCode);
    SetText(key, L"LastCheckTime", time);
    SetText(key, L"LastCheckResult", result);
    RegCloseKey(key);
}

void ReadPendingDriverUpdate(PendingDriverUpdate* pending)
{
    ULONGLONG madeAt = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(madeAt);
    // One character beyond the bytes read keeps each text terminated.
    DWORD infSize = sizeof(pending->infPath) - sizeof(wchar_t);
    DWORD versionSize = sizeof(pending->version) - sizeof(wchar_t);
    HKEY key = NULL;
    pending->waiting = false;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return;
    }
    bool read = RegQueryValueExW(key, L"DriverRestartTime", NULL, &type, reinterpret_cast<BYTE*>(&madeAt), &size) ==
                    ERROR_SUCCESS &&
                type == REG_QWORD &&
                RegQueryValueExW(key, L"DriverRestartInf", NULL, &type, reinterpret_cast<BYTE*>(pending->infPath),
                                 &infSize) == ERROR_SUCCESS &&
                RegQueryValueExW(key, L"DriverRestartVersion", NULL, &type, reinterpret_cast<BYTE*>(pending->version),
                                 &versionSize) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!read) {
        return;
    }
    pending->infPath[infSize / sizeof(wchar_t)] = L'\0';
    pending->version[versionSize / sizeof(wchar_t)] = L'\0';
    // Windows started after the update was made: the update is done.
    ULONGLONG bootedAt = Now() - GetTickCount64() * kTicksPerMillisecond;
    pending->waiting = bootedAt < madeAt;
}
