// The test bed's core: devices, files, Wine's per-program settings, and the
// one way to start a child, which answers its boxes as a user would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testbed {

// A present, root-enumerated SCSIAdapter device; an empty list is an empty REG_MULTI_SZ.
bool CreateRootDevice(const std::wstring& hardwareId, std::wstring* instanceId);
bool CreateRootDevice(const std::vector<std::wstring>& hardwareIds, std::wstring* instanceId);
// A device without the SPDRP_HARDWAREID property.
bool CreateRootDeviceWithoutHardwareId(std::wstring* instanceId);
bool RemoveDevice(const std::wstring& instanceId);

// Variables added to or replacing ours in the child's block.
using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

struct ChildRun {
    bool started = false;
    DWORD startError = 0;
    bool timedOut = false;  // killed at the time limit
    DWORD exitCode = 0;
    DWORD elapsedMs = 0;
};

struct Launch {
    std::wstring applicationName;  // lpApplicationName; empty: the command line's first token
    std::wstring desktop;          // "station\desktop"; empty: ours
};

// For CommandLineToArgvW to give it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg);

// A window station nobody sees, as session 0 is, with one desktop, for as long
// as the object lives: a box shown there is answered by no one.
class InvisibleDesktop {
public:
    InvisibleDesktop();
    ~InvisibleDesktop();
    InvisibleDesktop(const InvisibleDesktop&) = delete;
    InvisibleDesktop& operator=(const InvisibleDesktop&) = delete;
    // "station\Default"; empty when it could not be made.
    const std::wstring& Name() const
    {
        return name_;
    }
    bool StationVisible() const;

private:
    HWINSTA station_ = nullptr;
    HDESK desktop_ = nullptr;
    std::wstring name_;
};

// HKCU\Software\Wine\AppDefaults\<exeName>[\<key>], read at each process start.
bool SetAppDefault(const std::wstring& exeName, const std::wstring& key, const std::wstring& name,
                   const std::wstring& value);
bool RemoveAppDefaults(const std::wstring& exeName);

struct ControlInfo {
    std::wstring className;
    int id = 0;
    std::wstring text;
    RECT rect = {};  // screen coordinates
    DWORD style = 0;
    bool visible = false;
};

struct WindowInfo {
    HWND hwnd = nullptr;
    std::wstring className;
    std::wstring caption;
    RECT rect = {};
    std::vector<ControlInfo> controls;  // direct children, in z-order
};

enum class Button { Yes, No, Ok, Cancel, Retry, Abort, Ignore, Default };
enum class BoxIcon { None, Information, Warning, Error, Question, Unknown };

struct Answer {
    Answer(Button b, DWORD hold = 0) : press(b), holdMs(hold) {}
    Button press;
    DWORD holdMs;  // how long the box stays up, active, before the press
    // Runs after the hold, while the box is still up and unanswered.
    std::function<void()> whileShown;
};

struct BoxSeen {
    std::wstring caption;
    std::wstring text;
    std::vector<std::wstring> buttons;  // left to right, '&' removed
    BoxIcon icon = BoxIcon::None;
    bool scripted = false;  // false: no answer left, or its button was not there
    std::wstring pressed;
    DWORD atMs = 0;                     // since the start
    std::vector<WindowInfo> alongside;  // the other windows up meanwhile
};

struct WindowSeen {
    WindowInfo window;
    DWORD atMs = 0;
    DWORD lastAtMs = 0;  // the last poll that saw this look
};

struct RunResult {
    ChildRun run;
    std::vector<BoxSeen> boxes;
    std::vector<WindowSeen> windows;  // each look of every other window, in order
    size_t unansweredBoxes = 0;
};

// Starts the child and, until it ends, watches the windows of it and its
// descendants on our desktop, answering each box with the next answer; a box
// beyond them gets `fallback`, or its default button when that is not on it.
RunResult RunWithRobot(const std::wstring& commandLine, const std::wstring& currentDir, const Environment& env,
                       const std::vector<Answer>& answers, DWORD timeoutMs, Button fallback = Button::Default,
                       const Launch& launch = Launch());

const wchar_t* ButtonName(Button b);
const wchar_t* IconName(BoxIcon icon);

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string* bytes);
bool DeleteTree(const std::wstring& path);
// A new empty folder under %TEMP%; empty on failure.
std::wstring MakeTempFolder(const std::wstring& prefix);
bool CopyFileTo(const std::wstring& from, const std::wstring& to);
// The running program's folder, ending in "\".
std::wstring TestProgramFolder();
// The edition of setup that the test program's own platform runs: the x64
// lab tests setup64.exe, the x86 lab setup.exe.
#ifdef _WIN64
const wchar_t kSetupProgram[] = L"setup64.exe";
#else
const wchar_t kSetupProgram[] = L"setup.exe";
#endif
std::wstring SystemFolder();
std::string ToBytes(const std::wstring& text, UINT codePage);
// UTF-8 into a file or pipe, wide text onto a console.
void PrintLine(const std::wstring& line);

}  // namespace testbed
