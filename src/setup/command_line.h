#pragma once

#include <windows.h>

// Splits a command line into its arguments by the rules of CommandLineToArgvW
// (argument 0 ends at its closing quote or first blank; then blanks separate
// arguments outside quotes, and backslashes count only in front of a quote).
// The shell library that provides CommandLineToArgvW would bring a dozen DLLs
// into every run for this alone. The vector and its texts are one block,
// released with LocalFree; NULL when it cannot be allocated.
wchar_t** SplitCommandLine(const wchar_t* commandLine, int* count);
