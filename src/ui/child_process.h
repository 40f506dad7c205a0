#pragma once

#include <windows.h>

// What one caller logs around its child process.
struct ChildLogTexts {
    const wchar_t* launched;     // "%s": the command line
    const wchar_t* startFailed;  // "%s", "%d": the command line, the Windows error
    bool logExitCode;            // "Process terminated err=%d" after the wait
};

enum ChildWait { kWaitWithProgress, kWaitWithoutMessages };

// Starts the command (found by the standard program search, inheriting the
// environment and current folder), waits for it and reads its exit code,
// 0xFFFFFFFF when it cannot be read. false with *error when it could not be
// started. The buffer must be writable: CreateProcessW may change it.
bool RunChildProcess(wchar_t* commandLine, DWORD creationFlags, ChildWait wait, const ChildLogTexts& texts,
                     DWORD* exitCode, DWORD* error);
