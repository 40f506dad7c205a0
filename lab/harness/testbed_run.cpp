// Runs a program with the robot and prints what it met, for scripts; the exit
// code with all 32 bits, of which the shell sees only the low 8.
#include <algorithm>
#include <cwchar>

#include "testbed.h"

namespace {

using testbed::PrintLine;

bool ParseAnswers(const std::wstring& list, std::vector<testbed::Answer>* answers)
{
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(L',', start), list.size());
        int found = -1;
        for (int b = 0; b <= static_cast<int>(testbed::Button::Default); ++b) {
            if (list.compare(start, comma - start, testbed::ButtonName(static_cast<testbed::Button>(b))) == 0)
                found = b;
        }
        if (found < 0)
            return false;
        answers->push_back(static_cast<testbed::Button>(found));
        start = comma + 1;
    }
    return true;
}

std::wstring OneLine(const std::wstring& text)
{
    std::wstring line;
    for (wchar_t c : text) {
        if (c == L'\n')
            line += L"\\n";
        else if (c != L'\r')
            line.push_back(c);
    }
    return line;
}

void PrintBox(const testbed::BoxSeen& box)
{
    std::wstring buttons;
    for (const auto& button : box.buttons)
        buttons += (buttons.empty() ? L"" : L",") + button;
    PrintLine(L"box: " + box.caption + L" | " + OneLine(box.text) + L" | " + buttons + L" | pressed " + box.pressed +
              L" | icon " + testbed::IconName(box.icon) + L" | at " + std::to_wstring(box.atMs) + L" ms" +
              (box.scripted ? L"" : L" | unscripted"));
}

void PrintWindow(const testbed::WindowSeen& seen)
{
    const testbed::WindowInfo& w = seen.window;
    std::wstring line = L"window: " + w.className + L" | " + w.caption + L" | " + std::to_wstring(w.rect.left) + L"," +
                        std::to_wstring(w.rect.top) + L"," + std::to_wstring(w.rect.right) + L"," +
                        std::to_wstring(w.rect.bottom) + L" | at " + std::to_wstring(seen.atMs) + L" ms | for " +
                        std::to_wstring(seen.lastAtMs - seen.atMs) + L" ms";
    for (const auto& c : w.controls) {
        if (c.visible)
            line += L" | " + c.className + L" " + std::to_wstring(c.id) + L" " + OneLine(c.text);
    }
    PrintLine(line);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<testbed::Answer> answers;
    DWORD holdMs = 0;
    bool ok = true;
    int i = 1;
    for (; ok && i + 1 < argc && std::wstring(argv[i]) != L"--"; i += 2) {
        if (std::wstring(argv[i]) == L"--answers")
            ok = ParseAnswers(argv[i + 1], &answers);
        else if (std::wstring(argv[i]) == L"--hold")
            holdMs = wcstoul(argv[i + 1], nullptr, 10);
        else
            ok = false;
    }
    std::wstring commandLine;
    for (++i; ok && i < argc; ++i)
        commandLine += (commandLine.empty() ? L"" : L" ") + testbed::QuoteArgument(argv[i]);
    if (commandLine.empty()) {
        PrintLine(
            L"usage: testbed_run [--answers yes,no,ok,cancel,retry,abort,ignore,default] [--hold ms] -- "
            L"<program> [args...]\nA box beyond the answers gets Yes if it has one, else its default button.");
        return 2;
    }
    for (auto& answer : answers)
        answer.holdMs = holdMs;
    testbed::RunResult result = testbed::RunWithRobot(commandLine, L"", {}, answers, 120000, testbed::Button::Yes);
    // Merged by time, so that a window's changes read in order with the boxes.
    size_t w = 0;
    for (const auto& box : result.boxes) {
        for (; w < result.windows.size() && result.windows[w].atMs <= box.atMs; ++w)
            PrintWindow(result.windows[w]);
        PrintBox(box);
    }
    for (; w < result.windows.size(); ++w)
        PrintWindow(result.windows[w]);
    if (!result.run.started) {
        PrintLine(L"start failed: error " + std::to_wstring(result.run.startError));
        return 1;
    }
    if (result.run.timedOut)
        PrintLine(L"timed out: killed");
    PrintLine(L"elapsed: " + std::to_wstring(result.run.elapsedMs) + L" ms");
    PrintLine(L"exit code: " + std::to_wstring(result.run.exitCode));
    return static_cast<int>(result.run.exitCode);
}
