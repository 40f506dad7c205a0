#pragma once

#include "config/setup_config.h"
#include "driver/driver_pass.h"
#include "setup/exit_code.h"
#include "utility/utility_plan.h"

// The check of /C: what a run would decide on, read and nothing changed: no
// installer, registry editor, service command or driver update, no package
// cache and no export. It finds what stops a run (with the run's number), the
// controller, the installed and packaged driver and utility, a busy Windows
// Installer, an unfinished upgrade and a pending restart; shows them in one
// information box when not quiet; logs them; and records LastCheckTime,
// LastCheckResult and LastCheckExitCode beside the run record. Done when a
// run would change nothing; kExitCheckWouldChange when it would.
RunOutcome RunCheck(const SetupConfig& config);

// What stops a run before it changes anything, in the order a run meets it:
// a record of an unfinished upgrade that cannot be used, Windows older than
// OSVER, no controller or an incomplete driver entry. True, with the box
// shown and the outcome in stopped, when one of them does; otherwise the
// waiting driver update and the driver pass's findings are in pending and
// report. A run and a check stop alike.
bool FindWhatStopsARun(const SetupConfig& config, UtilityPlan* plan, PendingDriverUpdate* pending,
                       DriverPassReport* report, RunOutcome* stopped);
