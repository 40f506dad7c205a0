#pragma once

#include <windows.h>

// Splits a command line into its arguments by the rules of CommandLineToArgvW
// (argument 0 ends at its closing quote or first blank; then blanks separate
// arguments outside quotes, and backslashes count only in front of a quote).
// The shell library that provides CommandLineToArgvW would bring a dozen DLLs
// into every run for this alone. The vector and its texts are one block,
// released with LocalFree; NULL when it cannot be allocated.
wchar_t** SplitCommandLine(const wchar_t* commandLine, int* count);

// Our own arguments as the caller wrote them, after argument 0 and the blanks
// behind it. Argument 0 ends where SplitCommandLine ends it, even with no
// blank after its closing quote, so that whoever is handed these arguments
// reads the same ones.
const wchar_t* FindArgumentsAfterProgram(const wchar_t* commandLine);
