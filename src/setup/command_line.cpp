#include "setup/command_line.h"

#include <wchar.h>

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// CommandLineToArgvW gives argument 0 no escapes: a quote opens it and the
// next quote closes it, whatever follows; without a quote, a blank ends it.
const wchar_t* FindProgramEnd(const wchar_t* commandLine)
{
    const wchar_t* position = commandLine;
    if (*position == L'"') {
        ++position;
        while (*position != L'\0' && *position != L'"') {
            ++position;
        }
        return *position == L'"' ? position + 1 : position;
    }
    while (*position != L'\0' && !IsBlank(*position)) {
        ++position;
    }
    return position;
}

const wchar_t* CopyProgram(const wchar_t* source, wchar_t** target)
{
    const wchar_t* end = FindProgramEnd(source);
    const wchar_t* first = source;
    const wchar_t* last = end;
    if (*source == L'"') {
        ++first;
        if (last > first && last[-1] == L'"') {
            --last;
        }
    }
    for (; first < last; ++first) {
        *(*target)++ = *first;
    }
    *(*target)++ = L'\0';
    return end;
}

// One argument after the program. 2n backslashes and a quote give n
// backslashes and open or close quoting; 2n+1 give n and a literal quote;
// inside quotes, a doubled quote gives one.
const wchar_t* CopyArgument(const wchar_t* source, wchar_t** target)
{
    int quotes = 0;
    int backslashes = 0;
    wchar_t* out = *target;
    while (*source != L'\0' && !(IsBlank(*source) && quotes == 0)) {
        if (*source == L'\\') {
            *out++ = *source++;
            ++backslashes;
            continue;
        }
        if (*source != L'"') {
            *out++ = *source++;
            backslashes = 0;
            continue;
        }
        if (backslashes % 2 == 0) {
            out -= backslashes / 2;
            ++quotes;
        } else {
            out -= backslashes / 2 + 1;
            *out++ = L'"';
        }
        ++source;
        backslashes = 0;
        for (; *source == L'"'; ++source) {
            if (++quotes == 3) {
                *out++ = L'"';
                quotes = 0;
            }
        }
        if (quotes == 2) {
            quotes = 0;
        }
    }
    *out++ = L'\0';
    *target = out;
    return source;
}

}  // namespace

const wchar_t* FindArgumentsAfterProgram(const wchar_t* commandLine)
{
    const wchar_t* position = FindProgramEnd(commandLine);
    while (IsBlank(*position)) {
        ++position;
    }
    return position;
}

wchar_t** SplitCommandLine(const wchar_t* commandLine, int* count)
{
    *count = 0;
    size_t length = wcslen(commandLine);
    // Every argument takes at least one character and its separator, so
    // there are at most length / 2 + 2 of them, each no longer than the line.
    size_t slots = length / 2 + 2;
    HLOCAL block = LocalAlloc(LMEM_FIXED, slots * sizeof(wchar_t*) + (length + slots) * sizeof(wchar_t));
    if (block == NULL) {
        return NULL;
    }
    wchar_t** arguments = static_cast<wchar_t**>(block);
    wchar_t* text = reinterpret_cast<wchar_t*>(arguments + slots);
    arguments[(*count)++] = text;
    const wchar_t* source = CopyProgram(commandLine, &text);
    for (;;) {
        while (IsBlank(*source)) {
            ++source;
        }
        if (*source == L'\0') {
            break;
        }
        arguments[(*count)++] = text;
        source = CopyArgument(source, &text);
    }
    arguments[*count] = NULL;
    return arguments;
}
