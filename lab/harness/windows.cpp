#include "internal.h"

#include <algorithm>

namespace testbed {
namespace {

const int kMessageBoxTextId = 0xFFFF;

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = L"";
    GetClassNameW(hwnd, name, ARRAYSIZE(name));
    return name;
}

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

// The text the system keeps for a window, read without a message to its
// thread: a progress window's program may be busy (waiting for a child or in a
// driver update) and would answer each WM_GETTEXT late, if at all.
std::wstring StoredText(HWND hwnd)
{
    std::vector<wchar_t> text(1024, L'\0');
    int length = InternalGetWindowText(hwnd, text.data(), static_cast<int>(text.size()));
    return std::wstring(text.data(), static_cast<size_t>(std::max(length, 0)));
}

ControlInfo DescribeControl(HWND hwnd)
{
    ControlInfo control;
    control.className = ClassOf(hwnd);
    control.id = GetDlgCtrlID(hwnd);
    GetWindowRect(hwnd, &control.rect);
    control.style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    control.visible = IsWindowVisible(hwnd) != FALSE;
    return control;
}

WindowInfo DescribeWindow(HWND hwnd, DWORD processId)
{
    WindowInfo window;
    window.hwnd = hwnd;
    window.processId = processId;
    window.className = ClassOf(hwnd);
    GetWindowRect(hwnd, &window.rect);
    window.style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    std::vector<HWND> children;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
        window.controls.push_back(DescribeControl(child));
    }
    // A message box runs its own message loop and answers at once; any other
    // window's texts are read as the system keeps them.
    std::wstring (*text)(HWND) = IsMessageBox(window) ? WindowText : StoredText;
    window.caption = text(hwnd);
    for (size_t i = 0; i < children.size(); ++i)
        window.controls[i].text = text(children[i]);
    return window;
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool SameControl(const ControlInfo& a, const ControlInfo& b)
{
    return a.className == b.className && a.id == b.id && a.text == b.text && SameRect(a.rect, b.rect) &&
           a.visible == b.visible;
}

}  // namespace

std::wstring WindowText(HWND hwnd)
{
    // WM_GETTEXT rather than GetWindowTextW: the latter does not ask another
    // process's controls for their text.
    // The text may grow between the two messages, so a full buffer means "again,
    // larger".
    DWORD_PTR length = 0;
    DWORD_PTR copied = 0;
    std::vector<wchar_t> buffer;
    bool answered =
        SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length) != 0;
    for (size_t size = length + 2; answered && copied + 1 >= buffer.size(); size *= 2) {
        buffer.assign(size, L'\0');
        answered = SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                                       SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied) != 0;
    }
    return answered ? std::wstring(buffer.data(), std::min<size_t>(copied, buffer.size() - 1)) : std::wstring();
}

std::vector<WindowInfo> SnapshotWindows(const std::vector<DWORD>& processIds)
{
    std::vector<HWND> all;
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&all));
    std::vector<WindowInfo> windows;
    for (HWND hwnd : all) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        bool ours = std::find(processIds.begin(), processIds.end(), owner) != processIds.end();
        if (!ours || !IsWindowVisible(hwnd))
            continue;
        WindowInfo window = DescribeWindow(hwnd, owner);
        // DestroyWindow hides a window before it takes its children away.
        if (IsWindowVisible(hwnd))
            windows.push_back(window);
    }
    return windows;
}

std::vector<WindowInfo> SnapshotWindows(DWORD processId)
{
    return SnapshotWindows(std::vector<DWORD>{processId});
}

const ControlInfo* FindControl(const WindowInfo& window, int id)
{
    auto found =
        std::find_if(window.controls.begin(), window.controls.end(), [id](const ControlInfo& c) { return c.id == id; });
    return found == window.controls.end() ? nullptr : &*found;
}

bool ClassIs(const std::wstring& className, const wchar_t* expected)
{
    return CompareStringOrdinal(className.c_str(), -1, expected, -1, TRUE) == CSTR_EQUAL;
}

bool IsButton(const ControlInfo& control)
{
    return control.visible && ClassIs(control.className, L"Button");
}

bool IsMessageBox(const WindowInfo& window)
{
    return ClassIs(window.className, L"#32770") && FindControl(window, kMessageBoxTextId) != nullptr &&
           std::any_of(window.controls.begin(), window.controls.end(), IsButton);
}

std::wstring MessageBoxText(const WindowInfo& box)
{
    const ControlInfo* text = FindControl(box, kMessageBoxTextId);
    return text == nullptr ? std::wstring() : text->text;
}

bool SameLook(const WindowInfo& a, const WindowInfo& b)
{
    return a.className == b.className && a.caption == b.caption && SameRect(a.rect, b.rect) &&
           std::equal(a.controls.begin(), a.controls.end(), b.controls.begin(), b.controls.end(), SameControl);
}

}  // namespace testbed
