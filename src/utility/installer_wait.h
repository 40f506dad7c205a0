#pragma once

#include <windows.h>

// Windows Installer runs one installation at a time: while another one runs,
// msiexec ends at once with 1618 and does nothing. The run waits for it, up to
// the seconds of InstallerWait in Inst.Inf.

// Before the utility stage changes anything, waits while another installation
// runs, with the progress window's text progressText. 0 when Windows
// Installer is free, or when InstallerWait is 0; 1618 when it is still busy.
int WaitForWindowsInstaller(UINT progressText);

// After a command that started at tick start was answered with 1618: waits
// until Windows Installer is free again. true when the command may run again,
// false once InstallerWait seconds have passed since start.
bool WaitToRetry(DWORD start);
