#pragma once

// Asks whether to restart now and, on Yes, asks Windows to restart. Never in
// quiet mode. 1 when Windows accepted the request.
int RebootSystem();

// The exit code of a run that leaves a restart due: 0, and in quiet mode the
// RestartExitCode of Inst.Inf when it is there and not 0 (administrators set
// 3010, which deployment tools read as "success, restart required").
int GetRestartExitCode();
