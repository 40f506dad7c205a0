#pragma once

#include <windows.h>

#include "config/setup_config.h"
#include "driver/driver_pass.h"
#include "setup/exit_code.h"

// The run record: HKLM\SOFTWARE\VANTIRO\RAID Setup, in the 64-bit view on
// 64-bit Windows whichever edition writes it, writable by SYSTEM and
// Administrators only, for deployment tools and administrators to read what
// the last run did.

// What the run knew at its end, beside its outcome.
struct RunFacts {
    const wchar_t* productCode;   // the package's, when it was read; else empty
    int driverEntry;              // the entry whose controller is present; -1: none found
    bool driverPassRan;           // the update pass ran
    PendingDriverUpdate pending;  // what the record said of a waiting driver update
    DriverPassReport driver;      // what the update pass did
};

// LastExitCode, LastRunTime (UTC), LastResult (one sentence), UtilityVersion
// and DriverVersion as installed now, RestartDue, LogFile, SetupVersion; and
// the driver update that waits for a restart, or none.
void WriteRunRecord(const RunOutcome& outcome, DWORD exitCode, const RunFacts& facts, const SetupConfig& config);

// LastCheckTime, LastCheckResult (findings, or why the check stopped) and
// LastCheckExitCode, beside the record of the last real run.
void WriteCheckRecord(const RunOutcome& outcome, DWORD exitCode, const wchar_t* findings);

// The driver update of an earlier run that waits for Windows to restart:
// waiting when Windows has not restarted since it was made.
void ReadPendingDriverUpdate(PendingDriverUpdate* pending);
