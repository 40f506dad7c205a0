#include "ui/message_boxes.h"

#include "log/debug_log.h"
#include "res/resource.h"
#include "core/process_state.h"
#include "core/system_libraries.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const int kTextCapacity = 256;
const int kCaptionCapacity = 64;

}  // namespace

// A string that cannot be loaded leaves an empty text; the box is shown anyway.
void LoadText(UINT id, wchar_t* buffer, int capacity)
{
    const User32Functions* user = GetUser32();
    buffer[0] = L'\0';
    if (user == NULL || user->loadString(g_process.instanceHandle, id, buffer, capacity) <= 0) {
        buffer[0] = L'\0';
    }
}

namespace {

// 0, as for a box that cannot be shown, when the window functions are missing.
int ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type)
{
    const User32Functions* user = GetUser32();
    return user != NULL ? user->messageBox(NULL, text, caption, type) : 0;
}

int ShowBox(UINT textId, UINT type)
{
    wchar_t text[kTextCapacity];
    wchar_t caption[kCaptionCapacity];
    LoadText(textId, text, kTextCapacity);
    LoadText(IDS_CAPTION, caption, kCaptionCapacity);
    return ShowMessageBox(text, caption, type);
}

// A quiet run on a window station that nobody sees would wait for ever on a
// box that no one can answer. Session 0 is never a user's (since Windows
// Vista), though its WinSta0 reports itself visible. When the station cannot
// be asked, the box is shown, as on any desktop.
bool NobodyCouldAnswer()
{
    if (!g_process.quiet) {
        return false;
    }
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) {
        return true;
    }
    const User32Functions* user = GetUser32();
    USEROBJECTFLAGS flags = {FALSE, FALSE, 0};
    DWORD needed = 0;
    HWINSTA station = user != NULL ? user->getProcessWindowStation() : NULL;
    if (station == NULL ||
        !user->getUserObjectInformation(station, UOI_FLAGS, &flags, static_cast<DWORD>(sizeof(flags)), &needed)) {
        return false;
    }
    return (flags.dwFlags & WSF_VISIBLE) == 0;
}

// For the boxes that a quiet run shows too: where nobody could answer, the
// text goes to the log and the run goes on to its end.
void PresentBox(const wchar_t* text, const wchar_t* caption, UINT type)
{
    if (NobodyCouldAnswer()) {
        LogMessage(L"Message box not shown: %s", text);
        return;
    }
    ShowMessageBox(text, caption, type);
}

}  // namespace

int AskYesNo(UINT id)
{
    if (g_process.quiet) {
        return 1;
    }
    return ShowBox(id, MB_YESNO | MB_ICONQUESTION) == IDYES ? 1 : 0;
}

void ShowMessage(UINT id, UINT type)
{
    if (g_process.quiet) {
        return;
    }
    ShowBox(id, type);
}

void ShowFailure(int number)
{
    wchar_t failed[kTextCapacity];
    wchar_t caption[kCaptionCapacity];
    wchar_t text[kTextCapacity] = L"";
    LoadText(IDS_FAILED, failed, kTextCapacity);
    LoadText(IDS_CAPTION, caption, kCaptionCapacity);
    StringCchPrintfW(text, kTextCapacity, L"%s(%d)", failed, number);
    PresentBox(text, caption, MB_ICONERROR);
}

void ShowMessageEvenWhenQuiet(UINT id, UINT type)
{
    wchar_t text[kTextCapacity];
    wchar_t caption[kCaptionCapacity];
    LoadText(id, text, kTextCapacity);
    LoadText(IDS_CAPTION, caption, kCaptionCapacity);
    PresentBox(text, caption, type);
}

void ShowInformation(const wchar_t* text)
{
    wchar_t caption[kCaptionCapacity];
    if (g_process.quiet) {
        return;
    }
    LoadText(IDS_CAPTION, caption, kCaptionCapacity);
    ShowMessageBox(text, caption, MB_OK | MB_ICONINFORMATION);
}

void ShowCompleted()
{
    ShowMessage(IDS_COMPLETED, MB_OK);
}
