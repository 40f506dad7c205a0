#pragma once

// Appends one timestamped line to the debug log when the log is switched on.
// The message is cut to 255 characters; a line that cannot be written is lost.
void LogMessage(const wchar_t* format, ...);
