#include "internal.h"

#include <tlhelp32.h>

#include <algorithm>

namespace testbed {
namespace {

const DWORD kPollMs = 15;
const DWORD kBoxGoneMs = 5000;
const DWORD kActivationMs = 1000;

using Buttons = std::vector<const ControlInfo*>;

int ButtonId(Button b)
{
    switch (b) {
        case Button::Yes:
            return IDYES;
        case Button::No:
            return IDNO;
        case Button::Ok:
            return IDOK;
        case Button::Cancel:
            return IDCANCEL;
        case Button::Retry:
            return IDRETRY;
        case Button::Abort:
            return IDABORT;
        case Button::Ignore:
            return IDIGNORE;
        case Button::Default:
            return 0;
    }
    return 0;
}

std::wstring StripAccelerators(const std::wstring& text)
{
    std::wstring plain;
    for (size_t i = 0; i < text.size(); ++i) {
        // "&&" stands for a literal '&'.
        if (text[i] == L'&' && i + 1 < text.size())
            ++i;
        plain.push_back(text[i]);
    }
    return plain;
}

bool Contains(const std::vector<DWORD>& ids, DWORD id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Boxes may come from a program that the child starts in turn.
void AddDescendants(std::vector<DWORD>* processIds)
{
    std::vector<PROCESSENTRY32W> entries;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        entries.push_back(entry);
    }
    CloseHandle(snapshot);
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& e : entries) {
            if (!Contains(*processIds, e.th32ParentProcessID) || Contains(*processIds, e.th32ProcessID)) {
                continue;
            }
            processIds->push_back(e.th32ProcessID);
            grew = true;
        }
    }
}

void KillDescendants(const std::vector<DWORD>& processIds)
{
    for (size_t i = 1; i < processIds.size(); ++i) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processIds[i]);
        if (process == nullptr)
            continue;
        TerminateProcess(process, kKilledExitCode);
        CloseHandle(process);
    }
}

Buttons ButtonsLeftToRight(const WindowInfo& box)
{
    Buttons buttons;
    for (const auto& control : box.controls) {
        if (IsButton(control))
            buttons.push_back(&control);
    }
    std::stable_sort(buttons.begin(), buttons.end(), [](const ControlInfo* a, const ControlInfo* b) {
        return a->rect.top != b->rect.top ? a->rect.top < b->rect.top : a->rect.left < b->rect.left;
    });
    return buttons;
}

const ControlInfo* FindButton(const Buttons& buttons, int id)
{
    auto found = std::find_if(buttons.begin(), buttons.end(), [id](const ControlInfo* c) { return c->id == id; });
    return found == buttons.end() ? nullptr : *found;
}

// The button drawn as default; Wine's boxes answer DM_GETDEFID with IDOK even
// when MB_DEFBUTTON2 made another button the default.
int DefaultButtonId(HWND box, const Buttons& buttons)
{
    auto drawn = std::find_if(buttons.begin(), buttons.end(),
                              [](const ControlInfo* c) { return (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON; });
    DWORD_PTR reply = 0;
    if (drawn == buttons.end()) {
        SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &reply);
    }
    int id = drawn != buttons.end() ? (*drawn)->id : HIWORD(reply) == DC_HASDEFID ? LOWORD(reply) : 0;
    if (FindButton(buttons, id) == nullptr && !buttons.empty())
        id = buttons.front()->id;
    return id;
}

BoxSeen DescribeBox(const WindowInfo& box, const Buttons& buttons)
{
    BoxSeen seen;
    seen.caption = box.caption;
    seen.text = MessageBoxText(box);
    for (const ControlInfo* button : buttons)
        seen.buttons.push_back(StripAccelerators(button->text));
    seen.rect = box.rect;
    seen.icon = ReadBoxIcon(box);
    return seen;
}

void WaitGone(HWND window)
{
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window) && GetTickCount() - start < kBoxGoneMs) {
        Sleep(5);
    }
}

bool IsActive(HWND window, DWORD thread)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(thread, &info) && info.hwndActive == window;
}

// Makes a held box look as it does to the user who started the program, with
// an active caption: under Wine the first window of a program that another one
// started is the active window but drawn inactive, until the activation leaves
// it and comes back.
void ShowActive(HWND window)
{
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    SetForegroundWindow(GetDesktopWindow());
    for (DWORD start = GetTickCount(); IsActive(window, thread) && GetTickCount() - start < kActivationMs;)
        Sleep(5);
    SetForegroundWindow(window);
    for (DWORD start = GetTickCount(); !IsActive(window, thread) && GetTickCount() - start < kActivationMs;)
        Sleep(5);
}

class Robot {
public:
    Robot(const std::vector<Answer>& answers, Button fallback, DWORD startTick, RunResult* result)
        : answers_(answers), fallback_(fallback), startTick_(startTick), result_(result)
    {
    }

    void Poll(const std::vector<DWORD>& processIds)
    {
        const std::vector<WindowInfo> windows = SnapshotWindows(processIds);
        for (const auto& window : windows) {
            if (std::find(handled_.begin(), handled_.end(), window.hwnd) != handled_.end())
                continue;
            if (IsMessageBox(window)) {
                AnswerBox(window, windows);
            } else {
                Remember(window);
            }
        }
    }

private:
    // Consumes the next scripted answer only if the box bears its caption.
    const Answer* NextAnswer(const std::wstring& caption)
    {
        const Answer* answer = next_ < answers_.size() ? &answers_[next_] : nullptr;
        if (answer != nullptr && !answer->caption.empty() && answer->caption != caption) {
            answer = nullptr;
        }
        if (answer != nullptr)
            ++next_;
        return answer;
    }

    // The scripted button if it is on the box, else the fallback, else the
    // box's default; *scripted tells which, *holdMs how long to wait first.
    int ChooseButton(const WindowInfo& box, const Buttons& buttons, bool* scripted, const Answer** chosen)
    {
        const Answer* answer = NextAnswer(box.caption);
        *chosen = answer;
        Button press = answer != nullptr ? answer->press : fallback_;
        int id = press == Button::Default ? DefaultButtonId(box.hwnd, buttons) : ButtonId(press);
        *scripted = answer != nullptr && FindButton(buttons, id) != nullptr;
        return FindButton(buttons, id) != nullptr ? id : DefaultButtonId(box.hwnd, buttons);
    }

    void AnswerBox(const WindowInfo& box, const std::vector<WindowInfo>& windows)
    {
        Buttons buttons = ButtonsLeftToRight(box);
        BoxSeen seen = DescribeBox(box, buttons);
        for (const auto& window : windows) {
            if (!IsMessageBox(window))
                seen.alongside.push_back(window);
        }
        seen.atMs = GetTickCount() - startTick_;
        const Answer* answer = nullptr;
        const ControlInfo* button = FindButton(buttons, ChooseButton(box, buttons, &seen.scripted, &answer));
        if (answer != nullptr && answer->holdMs > 0) {
            ShowActive(box.hwnd);
            Sleep(answer->holdMs);
        }
        if (answer != nullptr && answer->whileShown)
            answer->whileShown();
        if (button != nullptr) {
            seen.pressed = StripAccelerators(button->text);
            // A posted click reaches the box's own message loop as a real one would.
            PostMessageW(box.hwnd, WM_COMMAND, MAKEWPARAM(button->id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box.hwnd, button->id)));
        }
        WaitGone(box.hwnd);
        handled_.push_back(box.hwnd);
        if (!seen.scripted)
            ++result_->unansweredBoxes;
        result_->boxes.push_back(seen);
    }

    void Remember(const WindowInfo& window)
    {
        auto& seen = result_->windows;
        auto last = std::find_if(seen.rbegin(), seen.rend(),
                                 [&window](const WindowSeen& w) { return w.window.hwnd == window.hwnd; });
        DWORD now = GetTickCount() - startTick_;
        if (last == seen.rend() || !SameLook(last->window, window)) {
            seen.push_back(WindowSeen{window, now, now});
        } else {
            last->lastAtMs = now;
        }
    }

    std::vector<Answer> answers_;
    size_t next_ = 0;
    Button fallback_;
    DWORD startTick_;
    RunResult* result_;
    std::vector<HWND> handled_;
};

}  // namespace

RunResult RunWithRobot(const std::wstring& commandLine, const std::wstring& currentDir, const Environment& env,
                       const std::vector<Answer>& answers, DWORD timeoutMs, Button fallback, const Launch& launch)
{
    RunResult result;
    PROCESS_INFORMATION info = {};
    DWORD startTick = GetTickCount();
    result.run.started = StartChild(commandLine, currentDir, env, &info, &result.run.startError, launch);
    if (!result.run.started)
        return result;
    Robot robot(answers, fallback, startTick, &result);
    std::vector<DWORD> processIds = {info.dwProcessId};
    for (bool running = true; running;) {
        AddDescendants(&processIds);
        robot.Poll(processIds);
        result.run.timedOut = GetTickCount() - startTick >= timeoutMs;
        running = !result.run.timedOut && WaitForSingleObject(info.hProcess, kPollMs) == WAIT_TIMEOUT;
    }
    if (result.run.timedOut)
        KillDescendants(processIds);
    FinishChild(info.hProcess, startTick, &result.run);
    return result;
}

const wchar_t* ButtonName(Button b)
{
    switch (b) {
        case Button::Yes:
            return L"yes";
        case Button::No:
            return L"no";
        case Button::Ok:
            return L"ok";
        case Button::Cancel:
            return L"cancel";
        case Button::Retry:
            return L"retry";
        case Button::Abort:
            return L"abort";
        case Button::Ignore:
            return L"ignore";
        case Button::Default:
            return L"default";
    }
    return L"?";
}

const wchar_t* IconName(BoxIcon icon)
{
    switch (icon) {
        case BoxIcon::None:
            return L"none";
        case BoxIcon::Information:
            return L"information";
        case BoxIcon::Warning:
            return L"warning";
        case BoxIcon::Error:
            return L"error";
        case BoxIcon::Question:
            return L"question";
        case BoxIcon::Unknown:
            return L"unknown";
    }
    return L"?";
}

}  // namespace testbed
