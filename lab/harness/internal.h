// Shared between the library's own files; tests include testbed.h only.
#pragma once

#include "testbed.h"

namespace testbed {

// Stands out in a report as "the test bed killed it".
const DWORD kKilledExitCode = 0xDEADBEEF;
const DWORD kKillWaitMs = 5000;
// A hung child must not hang the robot.
const UINT kMessageTimeoutMs = 1000;

// Kills the child first when run->timedOut, then fills in the exit code and
// time and closes the handle.
void FinishChild(HANDLE process, DWORD startTick, ChildRun* run);

std::wstring WindowText(HWND hwnd);
std::vector<WindowInfo> SnapshotWindows(const std::vector<DWORD>& processIds);
bool ClassIs(const std::wstring& className, const wchar_t* expected);
bool IsButton(const ControlInfo& control);
std::wstring MessageBoxText(const WindowInfo& box);
bool SameLook(const WindowInfo& a, const WindowInfo& b);
BoxIcon ReadBoxIcon(const WindowInfo& box);

}  // namespace testbed
