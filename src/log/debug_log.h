#pragma once

// The debug log, off until StartDebugLog. A message is cut to 1,535
// characters; a line that cannot be written is lost.

// From now on, lines go to the file at path (UTF-16LE, appended).
void StartDebugLog(const wchar_t* path);

// Appends one timestamped line when the log is on.
void LogMessage(const wchar_t* format, ...);
