// Built with the program's options, to show its stack protector: "guard" exits
// with the guard main sees (0 when a constructor saw another), "fill N" copies
// N bytes into a 16-byte local array.
#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" uintptr_t __stack_chk_guard;

namespace {

uintptr_t g_guardBeforeMain = 0;

struct GuardWitness {
    GuardWitness()
    {
        g_guardBeforeMain = __stack_chk_guard;
    }
};
GuardWitness g_witness;

__attribute__((noinline)) int Fill(const char* source, size_t count)
{
    char buffer[16] = "";
    memcpy(buffer, source, count);
    buffer[sizeof(buffer) - 1] = '\0';
    OutputDebugStringA(buffer);
    return static_cast<int>(strlen(buffer));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && wcscmp(argv[1], L"guard") == 0) {
        return g_guardBeforeMain == __stack_chk_guard ? static_cast<int>(__stack_chk_guard) : 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"fill") == 0) {
        static char source[4096];
        size_t count = wcstoul(argv[2], NULL, 10);
        if (count > sizeof(source)) {
            return 2;
        }
        memset(source, 'x', sizeof(source));
        Fill(source, count);
        return 0;
    }
    return 2;
}
