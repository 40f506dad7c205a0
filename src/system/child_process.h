#pragma once

#include <windows.h>

// Room for a child's command line: the full path of a system program and its
// arguments, which carry up to three paths.
const int kCommandCapacity = 1024;

// What one caller logs around its child process.
struct ChildLogTexts {
    const wchar_t* launched;     // "%s": the command line
    const wchar_t* startFailed;  // "%s", "%d": the command line, the Windows error
    bool logExitCode;            // "Process terminated err=%d" after the wait
};

// An installer or an uninstall program may rightly run for as long as it
// needs; the registry editor ends within seconds unless it hangs, and a hang
// must not keep the run from ending.
enum ChildWait { kWaitWithMessages, kWaitBoundedWithoutMessages };

// How long a bounded wait lasts.
const DWORD kChildWaitBoundMs = 5 * 60 * 1000;

// Waits for handle, handling the messages of this thread's windows (the
// progress window) meanwhile. false when it is still unsignalled after
// timeoutMs (INFINITE: no bound).
bool WaitPumpingMessages(HANDLE handle, DWORD timeoutMs);

// A pause in which the progress window stays alive.
void PauseWithMessages(DWORD pauseMs);

// Starts application with the command line, in the system folder as its
// current folder, inheriting the environment, and waits for it. ERROR_SUCCESS
// with its exit code (0xFFFFFFFF when it cannot be read); otherwise the Windows
// error that kept it from starting, or WAIT_TIMEOUT when a bounded wait ran
// out (the child is then ended). The buffer must be writable: CreateProcessW
// may change it.
DWORD RunChildProcess(const wchar_t* application, wchar_t* commandLine, DWORD creationFlags, ChildWait wait,
                      const ChildLogTexts& texts, DWORD* exitCode);

// A file that is there and no folder.
bool IsProgramFile(const wchar_t* path);

// "X:\..." or "\\server\...".
bool IsFullPath(const wchar_t* path);

// The full path of a program of the system folder or, when alsoWindowsFolder,
// of the Windows folder: a program found anywhere else could have been put
// there by someone without administrator rights. false when it is in neither.
bool FindSystemProgram(const wchar_t* name, bool alsoWindowsFolder, wchar_t* path);

// The full path of a program of the 32-bit system folder of 64-bit Windows
// (SysWOW64). false on 32-bit Windows or when it is not there.
bool FindWow64Program(const wchar_t* name, wchar_t* path);

// "<program> <arguments>", the program in double quotes when it holds a blank.
// false, with the command emptied, when it does not fit.
bool ComposeProgramCommand(wchar_t* command, size_t capacity, const wchar_t* program, const wchar_t* arguments);

// Runs the program file with the arguments, as RunChildProcess does.
DWORD RunProgramFile(const wchar_t* program, const wchar_t* arguments, DWORD creationFlags, ChildWait wait,
                     const ChildLogTexts& texts, DWORD* exitCode);
