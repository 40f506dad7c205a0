#pragma once

#include <windows.h>

#include "config/setup_config.h"

// true when the running Windows satisfies Install/OSVER of Inst.Inf, or when
// no requirement is given.
bool CheckOsRequirement(const SetupConfig& config);

// The comparison itself: requirement as "major.minor" text, the version that
// Windows reports, and whether the process runs under WOW64. A requirement of
// major 6 or more is never met under WOW64.
bool IsOsRequirementMet(const wchar_t* requirement, DWORD major, DWORD minor, BOOL wow64);
