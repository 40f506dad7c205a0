#pragma once

#include "config/setup_config.h"
#include "setup/exit_code.h"

// The check of /C: what a run would decide on, read and nothing changed: no
// installer, registry editor, service command or driver update, no package
// cache and no export. It finds what stops a run (with the run's number), the
// controller, the installed and packaged driver and utility, a busy Windows
// Installer, an unfinished upgrade and a pending restart; shows them in one
// information box when not quiet; logs them; and records LastCheckTime,
// LastCheckResult and LastCheckExitCode beside the run record. Done when a
// run would change nothing; kExitCheckWouldChange when it would.
RunOutcome RunCheck(const SetupConfig& config);
