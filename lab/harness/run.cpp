#include "testbed.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace testbed {
namespace {

const DWORD kPollMs = 15;
const DWORD kKilledExitCode = 0xDEADBEEF;
const int kStartAttempts = 3;
const UINT kMessageTimeoutMs = 1000;  // a hung child must not hang the robot
const DWORD kBoxGoneMs = 5000;
const DWORD kActivationMs = 1000;
const int kMessageBoxTextId = 0xFFFF;
const int kMaxMeanDifference = 12;  // per colour channel, out of 255
const int kIconAttempts = 10;       // the box may not be painted yet

const struct {
    int id;
    const wchar_t* name;
} kButtons[] = {{IDYES, L"yes"},     {IDNO, L"no"},       {IDOK, L"ok"},         {IDCANCEL, L"cancel"},
                {IDRETRY, L"retry"}, {IDABORT, L"abort"}, {IDIGNORE, L"ignore"}, {0, L"default"}};

std::wstring EnvironmentBlock(const Environment& overrides)
{
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1)
        entries.emplace_back(entry);
    if (block != nullptr)
        FreeEnvironmentStringsW(block);
    // Per-drive entries such as "=C:=C:\dir" carry their leading '=' in the name.
    auto compare = [](const std::wstring& a, const std::wstring& b) {
        const std::wstring nameA = a.substr(0, a.find(L'=', 1)), nameB = b.substr(0, b.find(L'=', 1));
        return CompareStringOrdinal(nameA.c_str(), -1, nameB.c_str(), -1, TRUE);
    };
    for (const auto& [name, value] : overrides) {
        const std::wstring added = name + L"=" + value;
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::wstring& e) { return compare(e, added) == CSTR_EQUAL; }),
                      entries.end());
        entries.push_back(added);
    }
    // Windows expects the block sorted by name, case-insensitively.
    std::sort(entries.begin(), entries.end(),
              [&](const std::wstring& a, const std::wstring& b) { return compare(a, b) == CSTR_LESS_THAN; });
    std::wstring text;
    for (const auto& entry : entries)
        text.append(entry).push_back(L'\0');
    text.push_back(L'\0');
    return text;
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
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        entries.push_back(entry);
    CloseHandle(snapshot);
    auto known = [processIds](DWORD id) {
        return std::find(processIds->begin(), processIds->end(), id) != processIds->end();
    };
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& e : entries) {
            if (known(e.th32ParentProcessID) && !known(e.th32ProcessID)) {
                processIds->push_back(e.th32ProcessID);
                grew = true;
            }
        }
    }
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = L"";
    GetClassNameW(hwnd, name, ARRAYSIZE(name));
    return name;
}

bool ClassIs(const std::wstring& className, const wchar_t* expected)
{
    return CompareStringOrdinal(className.c_str(), -1, expected, -1, TRUE) == CSTR_EQUAL;
}

// WM_GETTEXT, since GetWindowTextW does not ask another process's controls.
std::wstring SentText(HWND hwnd)
{
    DWORD_PTR length = 0;
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length))
        return std::wstring();
    std::vector<wchar_t> buffer(length + 1, L'\0');
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &copied))
        return std::wstring();
    return std::wstring(buffer.data(), std::min<size_t>(copied, length));
}

// Read without a message to a thread that may be busy in a wait or a driver update.
std::wstring StoredText(HWND hwnd)
{
    std::vector<wchar_t> text(1024, L'\0');
    int length = InternalGetWindowText(hwnd, text.data(), static_cast<int>(text.size()));
    return std::wstring(text.data(), static_cast<size_t>(std::max(length, 0)));
}

const ControlInfo* FindControl(const WindowInfo& window, int id)
{
    for (const auto& control : window.controls) {
        if (control.id == id)
            return &control;
    }
    return nullptr;
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

WindowInfo Describe(HWND hwnd)
{
    WindowInfo window;
    window.hwnd = hwnd;
    window.className = ClassOf(hwnd);
    GetWindowRect(hwnd, &window.rect);
    std::vector<HWND> children;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        ControlInfo control;
        control.className = ClassOf(child);
        control.id = GetDlgCtrlID(child);
        GetWindowRect(child, &control.rect);
        control.style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        control.visible = IsWindowVisible(child) != FALSE;
        children.push_back(child);
        window.controls.push_back(control);
    }
    // A box runs its own message loop and answers at once.
    std::wstring (*text)(HWND) = IsMessageBox(window) ? SentText : StoredText;
    window.caption = text(hwnd);
    for (size_t i = 0; i < children.size(); ++i)
        window.controls[i].text = text(children[i]);
    return window;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM windows)
{
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(hwnd);
    return TRUE;
}

std::vector<WindowInfo> Snapshot(const std::vector<DWORD>& processIds)
{
    std::vector<HWND> all;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    std::vector<WindowInfo> windows;
    for (HWND hwnd : all) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (!IsWindowVisible(hwnd) || std::find(processIds.begin(), processIds.end(), owner) == processIds.end())
            continue;
        WindowInfo window = Describe(hwnd);
        // DestroyWindow hides a window before it takes its children away.
        if (IsWindowVisible(hwnd))
            windows.push_back(window);
    }
    return windows;
}

bool SameLook(const WindowInfo& a, const WindowInfo& b)
{
    auto same = [](const ControlInfo& x, const ControlInfo& y) {
        return x.className == y.className && x.id == y.id && x.text == y.text && EqualRect(&x.rect, &y.rect) &&
               x.visible == y.visible;
    };
    return a.className == b.className && a.caption == b.caption && EqualRect(&a.rect, &b.rect) &&
           std::equal(a.controls.begin(), a.controls.end(), b.controls.begin(), b.controls.end(), same);
}

// The screen at rect, or with an icon, that icon drawn on background.
std::vector<DWORD> Pixels(const RECT& rect, HICON icon, DWORD background)
{
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // DIB pixels are 0x00RRGGBB; COLORREF wants 0x00BBGGRR.
    HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
    RECT all = {0, 0, width, height};
    bool ok = bits != nullptr &&
              (icon == nullptr ? BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE
                               : FillRect(memory, &all, brush) &&
                                     DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL));
    GdiFlush();
    std::vector<DWORD> pixels;
    if (ok)
        pixels.assign(static_cast<const DWORD*>(bits), static_cast<const DWORD*>(bits) + width * height);
    SelectObject(memory, old);
    DeleteObject(brush);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

int MeanDifference(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    long long total = 0;
    for (size_t i = 0; i < a.size() && a.size() == b.size(); ++i) {
        for (int shift = 0; shift < 24; shift += 8)
            total += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
    }
    return a.empty() || a.size() != b.size() ? 255 : static_cast<int>(total / (static_cast<long long>(a.size()) * 3));
}

// The box's icon handle belongs to the child: the screen is compared with each
// standard icon drawn on the same background. Wine keeps an empty icon control
// on a box without an icon.
BoxIcon ReadBoxIcon(const WindowInfo& box)
{
    auto found = std::find_if(box.controls.begin(), box.controls.end(), [](const ControlInfo& c) {
        return c.visible && ClassIs(c.className, L"Static") && (c.style & SS_TYPEMASK) == SS_ICON;
    });
    DWORD_PTR handle = 0;
    if (found != box.controls.end()) {
        SendMessageTimeoutW(GetDlgItem(box.hwnd, found->id), STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                            &handle);
    }
    const std::pair<const wchar_t*, BoxIcon> candidates[] = {{IDI_INFORMATION, BoxIcon::Information},
                                                             {IDI_WARNING, BoxIcon::Warning},
                                                             {IDI_ERROR, BoxIcon::Error},
                                                             {IDI_QUESTION, BoxIcon::Question}};
    BoxIcon icon = handle == 0 ? BoxIcon::None : BoxIcon::Unknown;
    for (int attempt = 0; attempt < kIconAttempts && icon == BoxIcon::Unknown; ++attempt) {
        if (attempt > 0)
            Sleep(30);
        std::vector<DWORD> screen = Pixels(found->rect, nullptr, 0);
        int best = kMaxMeanDifference + 1;
        for (const auto& [resource, candidate] : candidates) {
            int difference = screen.empty()
                                 ? 255
                                 : MeanDifference(screen, Pixels(found->rect, LoadIconW(nullptr, resource), screen[0]));
            if (difference < best) {
                best = difference;
                icon = candidate;
            }
        }
    }
    return icon;
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

// The button drawn as default: Wine's boxes answer DM_GETDEFID with IDOK even
// under MB_DEFBUTTON2.
const ControlInfo* DefaultButton(HWND box, const std::vector<const ControlInfo*>& buttons)
{
    DWORD_PTR reply = 0;
    for (const ControlInfo* button : buttons) {
        if ((button->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return button;
    }
    SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &reply);
    for (const ControlInfo* button : buttons) {
        if (HIWORD(reply) == DC_HASDEFID && button->id == LOWORD(reply))
            return button;
    }
    return buttons.empty() ? nullptr : buttons.front();
}

// Under Wine the first window of a program that another one started is active
// but drawn inactive, until the activation leaves it and comes back.
void ShowActive(HWND window)
{
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    for (HWND target : {GetDesktopWindow(), window}) {
        SetForegroundWindow(target);
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        for (DWORD start = GetTickCount(); GetTickCount() - start < kActivationMs; Sleep(5)) {
            if ((GetGUIThreadInfo(thread, &info) && info.hwndActive == window) == (target == window))
                break;
        }
    }
}

BoxSeen AnswerBox(const WindowInfo& box, const Answer* answer, Button fallback, DWORD atMs)
{
    std::vector<const ControlInfo*> buttons;
    for (const auto& control : box.controls) {
        if (IsButton(control))
            buttons.push_back(&control);
    }
    std::stable_sort(buttons.begin(), buttons.end(), [](const ControlInfo* a, const ControlInfo* b) {
        return a->rect.top != b->rect.top ? a->rect.top < b->rect.top : a->rect.left < b->rect.left;
    });
    BoxSeen seen;
    seen.caption = box.caption;
    seen.text = FindControl(box, kMessageBoxTextId)->text;
    for (const ControlInfo* button : buttons)
        seen.buttons.push_back(StripAccelerators(button->text));
    seen.icon = ReadBoxIcon(box);
    seen.atMs = atMs;
    const Button press = answer != nullptr ? answer->press : fallback;
    const ControlInfo* chosen = press == Button::Default ? DefaultButton(box.hwnd, buttons) : nullptr;
    for (const ControlInfo* button : buttons) {
        if (press != Button::Default && button->id == kButtons[static_cast<int>(press)].id)
            chosen = button;
    }
    seen.scripted = answer != nullptr && chosen != nullptr;
    if (chosen == nullptr)
        chosen = DefaultButton(box.hwnd, buttons);
    if (answer != nullptr && answer->holdMs > 0) {
        ShowActive(box.hwnd);
        Sleep(answer->holdMs);
    }
    if (answer != nullptr && answer->whileShown)
        answer->whileShown();
    if (chosen != nullptr) {
        seen.pressed = StripAccelerators(chosen->text);
        // A posted click reaches the box's own message loop as a real one would.
        PostMessageW(box.hwnd, WM_COMMAND, MAKEWPARAM(chosen->id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box.hwnd, chosen->id)));
    }
    for (DWORD start = GetTickCount();
         IsWindow(box.hwnd) && IsWindowVisible(box.hwnd) && GetTickCount() - start < kBoxGoneMs;)
        Sleep(5);
    return seen;
}

void Remember(const WindowInfo& window, DWORD now, std::vector<WindowSeen>* seen)
{
    auto last = std::find_if(seen->rbegin(), seen->rend(),
                             [&window](const WindowSeen& w) { return w.window.hwnd == window.hwnd; });
    if (last == seen->rend() || !SameLook(last->window, window)) {
        seen->push_back(WindowSeen{window, now, now});
    } else {
        last->lastAtMs = now;
    }
}

}  // namespace

RunResult RunWithRobot(const std::wstring& commandLine, const std::wstring& currentDir, const Environment& env,
                       const std::vector<Answer>& answers, DWORD timeoutMs, Button fallback, const Launch& launch)
{
    RunResult result;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring desktop = launch.desktop;  // lpDesktop is not const
    startup.lpDesktop = desktop.empty() ? nullptr : &desktop[0];
    std::wstring block = EnvironmentBlock(env);
    std::vector<wchar_t> command(commandLine.begin(), commandLine.end());  // CreateProcessW may write into it
    command.push_back(L'\0');
    PROCESS_INFORMATION info = {};
    DWORD start = GetTickCount();
    // Under load, Wine now and then loses a new process before its first
    // instruction (its loader dies, and CreateProcessW says
    // ERROR_INTERNAL_ERROR): nothing of the program ran, so it is started
    // again. Any other failure is the case's.
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        start = GetTickCount();
        result.run.started =
            CreateProcessW(launch.applicationName.empty() ? nullptr : launch.applicationName.c_str(), command.data(),
                           nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                           currentDir.empty() ? nullptr : currentDir.c_str(), &startup, &info) != FALSE;
        result.run.startError = result.run.started ? 0 : GetLastError();
        if (result.run.startError != ERROR_INTERNAL_ERROR)
            break;
        Sleep(500);
    }
    if (!result.run.started)
        return result;
    CloseHandle(info.hThread);
    std::vector<DWORD> processIds = {info.dwProcessId};
    std::vector<HWND> answered;
    size_t next = 0;
    for (bool running = true; running;) {
        AddDescendants(&processIds);
        const std::vector<WindowInfo> windows = Snapshot(processIds);
        for (const WindowInfo& window : windows) {
            if (std::find(answered.begin(), answered.end(), window.hwnd) != answered.end())
                continue;
            if (!IsMessageBox(window)) {
                Remember(window, GetTickCount() - start, &result.windows);
                continue;
            }
            const Answer* answer = next < answers.size() ? &answers[next++] : nullptr;
            BoxSeen seen = AnswerBox(window, answer, fallback, GetTickCount() - start);
            std::copy_if(windows.begin(), windows.end(), std::back_inserter(seen.alongside),
                         [](const WindowInfo& w) { return !IsMessageBox(w); });
            answered.push_back(window.hwnd);
            result.unansweredBoxes += seen.scripted ? 0 : 1;
            result.boxes.push_back(seen);
        }
        result.run.timedOut = GetTickCount() - start >= timeoutMs;
        running = !result.run.timedOut && WaitForSingleObject(info.hProcess, kPollMs) == WAIT_TIMEOUT;
    }
    for (size_t i = 1; result.run.timedOut && i < processIds.size(); ++i) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processIds[i]);
        if (process != nullptr) {
            TerminateProcess(process, kKilledExitCode);
            CloseHandle(process);
        }
    }
    if (result.run.timedOut) {
        TerminateProcess(info.hProcess, kKilledExitCode);
        WaitForSingleObject(info.hProcess, 5000);
    }
    GetExitCodeProcess(info.hProcess, &result.run.exitCode);
    result.run.elapsedMs = GetTickCount() - start;
    CloseHandle(info.hProcess);
    return result;
}

std::wstring QuoteArgument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only in front of a quote.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted.push_back(c);
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

InvisibleDesktop::InvisibleDesktop()
{
    static int counter = 0;
    const std::wstring station =
        L"testbed" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
    station_ = CreateWindowStationW(station.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    HWINSTA ours = GetProcessWindowStation();
    // CreateDesktopW makes the desktop in the station the process is attached to.
    if (station_ == nullptr || !SetProcessWindowStation(station_))
        return;
    desktop_ = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(ours);
    if (desktop_ != nullptr)
        name_ = station + L"\\Default";
}

InvisibleDesktop::~InvisibleDesktop()
{
    if (desktop_ != nullptr)
        CloseDesktop(desktop_);
    if (station_ != nullptr)
        CloseWindowStation(station_);
}

bool InvisibleDesktop::StationVisible() const
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return station_ != nullptr &&
           GetUserObjectInformationW(station_, UOI_FLAGS, &flags, sizeof(flags), &needed) != FALSE &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

const wchar_t* ButtonName(Button b)
{
    return kButtons[static_cast<int>(b)].name;
}

const wchar_t* IconName(BoxIcon icon)
{
    const wchar_t* const names[] = {L"none", L"information", L"warning", L"error", L"question", L"unknown"};
    return names[static_cast<int>(icon)];
}

}  // namespace testbed
