#pragma once

#include <windows.h>

// The small borderless window with one line of text that stays on the screen
// while a long operation runs. Its messages are handled only in WaitForChild.
int ShowProgress(UINT id);
int CloseProgress();
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM first, LPARAM second);

// Waits for a child process in 100 ms steps, handling at most one message of
// the progress window per step. false when it still runs after timeoutMs
// (INFINITE: no bound).
bool WaitForChild(HANDLE process, DWORD timeoutMs);
