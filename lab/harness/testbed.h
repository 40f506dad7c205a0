// Test bed for running the real setup.exe inside a Wine (or Windows) machine:
// devices made through SetupAPI, child processes with their own environment,
// and a robot that answers message boxes the way a user would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testbed {

// Makes a present, root-enumerated device of the SCSIAdapter class with one
// hardware ID. Puts its instance ID (e.g. ROOT\SCSIADAPTER\0000) in *instanceId.
bool CreateRootDevice(const std::wstring& hardwareId, std::wstring* instanceId);
// Same with a whole list of hardware IDs; an empty list stores an empty
// REG_MULTI_SZ.
bool CreateRootDevice(const std::vector<std::wstring>& hardwareIds, std::wstring* instanceId);
// A device that has no SPDRP_HARDWAREID property at all.
bool CreateRootDeviceWithoutHardwareId(std::wstring* instanceId);
bool RemoveDevice(const std::wstring& instanceId);

struct DeviceInfo {
    std::wstring instanceId;
    std::vector<std::wstring> hardwareIds;
    bool hasHardwareId = false;
};
// What SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES)
// lists: the view setup.exe itself gets.
std::vector<DeviceInfo> ListPresentDevices();
bool IsDevicePresent(const std::wstring& instanceId);

// Variables added to (or replacing those of) the current environment. Under
// Wine they reach only the child's Windows environment: Wine takes the locale
// (LC_ALL, LANG, ...) and its WINE* settings from the Unix environment of the
// `wine` command that began the chain, and leaves WINE* names out of the block.
using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

struct ChildRun {
    bool started = false;
    DWORD startError = 0;   // GetLastError() of CreateProcessW when !started
    bool timedOut = false;  // the child was killed at the time limit
    DWORD exitCode = 0;     // all 32 bits, from GetExitCodeProcess
    DWORD elapsedMs = 0;
};

// How a child is started beyond its command line.
struct Launch {
    // The program file (lpApplicationName); empty: the command line's first
    // token names it. A caller may point argument 0 anywhere.
    std::wstring applicationName;
    // "station\desktop" to run on (STARTUPINFOW.lpDesktop); empty: ours.
    std::wstring desktop;
};

// The block CreateProcessW needs: current variables plus overrides, sorted.
std::wstring BuildEnvironmentBlock(const Environment& overrides);
// An empty currentDir keeps ours. On success the caller owns info->hProcess.
bool StartChild(const std::wstring& commandLine, const std::wstring& currentDir, const Environment& env,
                PROCESS_INFORMATION* info, DWORD* error, const Launch& launch = Launch());
// Starts, waits at most timeoutMs, kills the child if it is still running then.
ChildRun RunChild(const std::wstring& commandLine, const std::wstring& currentDir, const Environment& env,
                  DWORD timeoutMs);
// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg);

// A window station of its own that nobody sees, as session 0 is to a service
// run by a deployment system, with one desktop in it. Children started on
// Name() run there; both stay open as long as the object lives. A box shown
// there can be answered by no one, the robot included.
class InvisibleDesktop {
public:
    InvisibleDesktop();
    ~InvisibleDesktop();
    InvisibleDesktop(const InvisibleDesktop&) = delete;
    InvisibleDesktop& operator=(const InvisibleDesktop&) = delete;

    // "station\Default"; empty when the station or desktop could not be made.
    const std::wstring& Name() const
    {
        return name_;
    }
    // What GetUserObjectInformationW(UOI_FLAGS) says of the station.
    bool StationVisible() const;

private:
    HWINSTA station_ = nullptr;
    HDESK desktop_ = nullptr;
    std::wstring name_;
};

// Wine's settings for the programs named exeName (e.g. L"setup.exe"), read at
// each process start from HKCU\Software\Wine\AppDefaults\<exeName>[\<key>]:
// under key "DllOverrides" a DLL's load order (L"native,builtin" prefers a
// file beside the program, as Windows would; L"" disables it); without a key,
// "Version" is the Windows the program is told of (L"win10"). WINEDLLOVERRIDES
// in a child's environment block is ignored by Wine.
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
    DWORD processId = 0;
    std::wstring className;
    std::wstring caption;
    RECT rect = {};  // screen coordinates
    DWORD style = 0;
    std::vector<ControlInfo> controls;  // direct children, in z-order
};

// Visible top-level windows of one process.
std::vector<WindowInfo> SnapshotWindows(DWORD processId);
// nullptr when the window has no child with that id.
const ControlInfo* FindControl(const WindowInfo& window, int id);
bool IsMessageBox(const WindowInfo& window);

enum class Button { Yes, No, Ok, Cancel, Retry, Abort, Ignore, Default };
enum class BoxIcon { None, Information, Warning, Error, Question, Unknown };

// What to press on the next box; with a caption, the box must bear it.
struct Answer {
    Answer(Button b, std::wstring expectedCaption = std::wstring()) : press(b), caption(std::move(expectedCaption)) {}
    Button press;
    std::wstring caption;
    DWORD holdMs = 0;  // how long the box stays up before the press
    // Runs after the hold, while the box is still up and unanswered.
    std::function<void()> whileShown;
};

struct BoxSeen {
    std::wstring caption;
    std::wstring text;
    std::vector<std::wstring> buttons;  // left to right, '&' removed
    RECT rect = {};                     // screen coordinates
    BoxIcon icon = BoxIcon::None;
    // False when the script had no answer for this box, its caption differed
    // from the scripted one, or the scripted button was not on the box.
    bool scripted = false;
    std::wstring pressed;  // text of the button pressed, empty if none was
    DWORD atMs = 0;        // since the child started
    // The process's other visible top-level windows while the box was up.
    std::vector<WindowInfo> alongside;
};

struct WindowSeen {
    WindowInfo window;
    DWORD atMs = 0;      // since the child started
    DWORD lastAtMs = 0;  // the last poll that still saw this look
};

struct RunResult {
    ChildRun run;
    std::vector<BoxSeen> boxes;
    // Each distinct look of the child's other visible top-level windows, in the
    // order seen (a progress window shows up once per text change).
    std::vector<WindowSeen> windows;
    size_t unansweredBoxes = 0;  // boxes with scripted == false
};

// Runs the child (and watches its descendants' windows too), answering each
// message box from the script in turn. A box the script does not cover is
// recorded and closed with `fallback` (or the box's default button when
// `fallback` is not on it) so that a test fails rather than hangs. Only our
// own desktop is watched: a box on another one is neither seen nor answered.
RunResult RunWithRobot(const std::wstring& commandLine, const std::wstring& currentDir, const Environment& env,
                       const std::vector<Answer>& answers, DWORD timeoutMs, Button fallback = Button::Default,
                       const Launch& launch = Launch());

const wchar_t* ButtonName(Button b);
const wchar_t* IconName(BoxIcon icon);

// Converts text with codePage (CP_UTF8, CP_ACP, 932, ...) and writes it.
bool WriteTextFile(const std::wstring& path, const std::wstring& text, UINT codePage, bool byteOrderMark = false);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string* bytes);
bool DeleteTree(const std::wstring& path);
// A new empty folder under %TEMP%; empty string on failure.
std::wstring MakeTempFolder(const std::wstring& prefix);
bool CopyFileTo(const std::wstring& from, const std::wstring& to);
// The folder of the running test program, ending in "\": setup.exe and the
// built test files lie there. Empty when it cannot be told.
std::wstring TestProgramFolder();
// The edition of setup that the test program's own platform runs: the x64
// lab tests setup64.exe, the x86 lab setup.exe.
#ifdef _WIN64
const wchar_t kSetupProgram[] = L"setup64.exe";
#else
const wchar_t kSetupProgram[] = L"setup.exe";
#endif

// Characters the code page lacks become its default character.
std::string ToBytes(const std::wstring& text, UINT codePage);
// Writes the line and a newline to stdout: UTF-8 into a file or pipe, wide
// text onto a console.
void PrintLine(const std::wstring& line);

}  // namespace testbed
