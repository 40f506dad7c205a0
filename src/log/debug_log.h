#pragma once

#include <windows.h>

// The debug log, off until StartDebugLog: UTF-16LE with a byte-order mark,
// one timestamped line per message. A line that cannot be written is lost.

// From now on, lines go to the file at beside (appended; empty: none) and to
// a file of this run's own in machineFolder (empty: none), named by the UTC
// time. false when the file beside the program cannot be written: the
// machine folder's file is then the log.
bool StartDebugLog(const wchar_t* beside, const wchar_t* machineFolder);

// This run's file in the machine folder, or an empty text.
const wchar_t* MachineLogPath();

// Keeps the newest keep logs of the machine folder and deletes the others.
void PruneMachineLogs(const wchar_t* machineFolder, int keep);

// Appends one timestamped line when the log is on. A message that names a
// path or a command is never cut: it may take up to 32,767 characters.
void LogMessage(const wchar_t* format, ...);
