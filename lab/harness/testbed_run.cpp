// Runs a program with the message-box robot and prints what it met, for demo
// runs and shell-driven scenarios. The child's full 32-bit exit code is
// printed, since the shell sees only its low 8 bits.
#include "testbed.h"

#include <cwchar>
#include <string>

namespace {

const DWORD kDefaultTimeoutMs = 120000;

struct Options {
    std::vector<testbed::Answer> answers;
    std::wstring caption;  // every box must bear it when set
    DWORD holdMs = 0;      // each scripted box stays up this long before its press
    std::wstring currentDir;
    testbed::Environment env;
    DWORD timeoutMs = kDefaultTimeoutMs;
    std::wstring commandLine;
};

bool ParseButton(const std::wstring& name, testbed::Button* button)
{
    const testbed::Button all[] = {testbed::Button::Yes,    testbed::Button::No,     testbed::Button::Ok,
                                   testbed::Button::Cancel, testbed::Button::Retry,  testbed::Button::Abort,
                                   testbed::Button::Ignore, testbed::Button::Default};
    bool found = false;
    for (testbed::Button b : all) {
        if (name != testbed::ButtonName(b))
            continue;
        *button = b;
        found = true;
    }
    return found;
}

bool ParseAnswers(const std::wstring& list, std::vector<testbed::Answer>* answers)
{
    bool ok = true;
    for (size_t start = 0; ok && start <= list.size();) {
        size_t comma = list.find(L',', start);
        if (comma == std::wstring::npos)
            comma = list.size();
        testbed::Button button = testbed::Button::Default;
        ok = ParseButton(list.substr(start, comma - start), &button);
        if (ok)
            answers->push_back(button);
        start = comma + 1;
    }
    return ok;
}

bool ParseEnv(const std::wstring& pair, testbed::Environment* env)
{
    size_t equals = pair.find(L'=', 1);
    if (equals != std::wstring::npos)
        env->emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    return equals != std::wstring::npos;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options)
{
    bool ok = true;
    int i = 1;
    for (; ok && i < argc && std::wstring(argv[i]) != L"--"; ++i) {
        std::wstring flag = argv[i];
        const wchar_t* value = i + 1 < argc ? argv[++i] : nullptr;
        if (value == nullptr) {
            ok = false;
        } else if (flag == L"--answers") {
            ok = ParseAnswers(value, &options->answers);
        } else if (flag == L"--caption") {
            options->caption = value;
        } else if (flag == L"--hold") {
            options->holdMs = wcstoul(value, nullptr, 10);
        } else if (flag == L"--cwd") {
            options->currentDir = value;
        } else if (flag == L"--env") {
            ok = ParseEnv(value, &options->env);
        } else if (flag == L"--timeout") {
            options->timeoutMs = wcstoul(value, nullptr, 10);
        } else {
            ok = false;
        }
    }
    for (++i; ok && i < argc; ++i) {
        if (!options->commandLine.empty())
            options->commandLine += L' ';
        options->commandLine += testbed::QuoteArgument(argv[i]);
    }
    return ok && !options->commandLine.empty();
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

std::wstring Join(const std::vector<std::wstring>& items)
{
    std::wstring joined;
    for (const auto& item : items)
        joined += (joined.empty() ? L"" : L",") + item;
    return joined;
}

std::wstring Describe(const RECT& r)
{
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," + std::to_wstring(r.right) + L"," +
           std::to_wstring(r.bottom);
}

void PrintBox(const testbed::BoxSeen& box)
{
    testbed::PrintLine(L"box: " + box.caption + L" | " + OneLine(box.text) + L" | " + Join(box.buttons) +
                       L" | pressed " + box.pressed + L" | icon " + testbed::IconName(box.icon) + L" | at " +
                       std::to_wstring(box.atMs) + L" ms" + (box.scripted ? L"" : L" | unscripted"));
}

void PrintWindow(const testbed::WindowSeen& seen)
{
    const testbed::WindowInfo& window = seen.window;
    std::wstring line = L"window: " + window.className + L" | " + window.caption + L" | " + Describe(window.rect) +
                        L" | at " + std::to_wstring(seen.atMs) + L" ms | for " +
                        std::to_wstring(seen.lastAtMs - seen.atMs) + L" ms";
    for (const auto& c : window.controls) {
        if (c.visible)
            line += L" | " + c.className + L" " + std::to_wstring(c.id) + L" " + OneLine(c.text);
    }
    testbed::PrintLine(line);
}

// Merged by time so that a window's changes read in order with the boxes.
void PrintSeen(const testbed::RunResult& result)
{
    size_t w = 0;
    for (const auto& box : result.boxes) {
        for (; w < result.windows.size() && result.windows[w].atMs <= box.atMs; ++w) {
            PrintWindow(result.windows[w]);
        }
        PrintBox(box);
    }
    for (; w < result.windows.size(); ++w)
        PrintWindow(result.windows[w]);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        testbed::PrintLine(
            L"usage: testbed_run [--answers yes,no,ok,cancel,retry,abort,ignore,default]\n"
            L"                   [--caption TEXT] [--hold ms] [--cwd DIR] [--env NAME=VALUE]... [--timeout ms]\n"
            L"                   -- <program> [args...]\n"
            L"A box beyond the answers gets Yes if it has one, else its default button.");
        return 2;
    }
    for (auto& answer : options.answers) {
        answer.caption = options.caption;
        answer.holdMs = options.holdMs;
    }
    testbed::RunResult result = testbed::RunWithRobot(options.commandLine, options.currentDir, options.env,
                                                      options.answers, options.timeoutMs, testbed::Button::Yes);
    PrintSeen(result);
    if (!result.run.started) {
        testbed::PrintLine(L"start failed: error " + std::to_wstring(result.run.startError));
        return 1;
    }
    if (result.run.timedOut)
        testbed::PrintLine(L"timed out: killed");
    testbed::PrintLine(L"elapsed: " + std::to_wstring(result.run.elapsedMs) + L" ms");
    testbed::PrintLine(L"exit code: " + std::to_wstring(result.run.exitCode));
    return static_cast<int>(result.run.exitCode);
}
