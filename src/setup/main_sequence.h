#pragma once

#include <windows.h>

enum OptionVerdict { kOptionInvalid, kOptionAccepted, kOptionQuiet, kOptionCheck };

// Judges one command-line argument by its first three characters.
OptionVerdict CheckOption(const wchar_t* argument);

// The whole run, from the command line to the last box; returns the exit code.
DWORD RunSetup(HINSTANCE instance);
