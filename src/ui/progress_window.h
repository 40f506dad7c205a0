#pragma once

#include <windows.h>

// The small borderless window with one line of text that stays on the screen
// while a long operation runs. Its messages are handled while the run waits
// (WaitPumpingMessages).
int ShowProgress(UINT id);
int CloseProgress();
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM first, LPARAM second);
