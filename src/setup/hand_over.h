#pragma once

#include "config/setup_config.h"
#include "setup/exit_code.h"

// On 64-bit Windows the 32-bit setup.exe cannot update a driver, and it sees
// the 32-bit views of the file system and the registry. It starts setup64.exe
// from its own folder with the same arguments, waits for it and returns its
// exit code: one run, one set of boxes, one log. Without setup64.exe beside
// it, or when that file is no x64 program, string 13 and a refusal; when its
// path does not fit, failure 206; both before anything is changed.
RunOutcome HandOverTo64BitSetup(const SetupConfig& config);

const wchar_t kSetup64Name[] = L"setup64.exe";
