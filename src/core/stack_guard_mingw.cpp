// GCC's stack protector without MinGW's libssp. libssp seeds its guard in a
// constructor through CryptAcquireContextA, which loads the crypto providers
// (and, on Windows 8 and later, cryptsp.dll, looked for beside the program)
// before RestrictDllSearch has run. The guard is seeded here instead, from the
// same cheap sources as MSVC's /GS cookie, and a smashed frame ends the
// process at once. Built with MinGW only: MSVC has /GS.
#include <stdint.h>
#include <windows.h>

namespace {

// The value until the constructor below runs; no frame of ours is live then.
const uintptr_t kUnseededGuard = static_cast<uintptr_t>(0xBB40E64Eu);

// A bijective finalizer: spreads every input bit over the whole value, so that
// correlated sources (the clock and the tick count) do not cancel out.
uint64_t Mix(uint64_t value)
{
    value ^= value >> 30;
    value *= 0xBF58476D1CE4E5B9ull;
    value ^= value >> 27;
    value *= 0x94D049BB133111EBull;
    value ^= value >> 31;
    return value;
}

}  // namespace

extern "C" {

uintptr_t __stack_chk_guard = kUnseededGuard;

// A frame's guard was overwritten: nothing of the program may run any more,
// not even its exception handlers.
__attribute__((noreturn)) void __stack_chk_fail(void)
{
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap();
}
}

namespace {

// Runs before every other constructor of the program, and must not check the
// guard that it changes.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard()
{
    FILETIME now = {0, 0};
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter;
    counter.QuadPart = 0;
    QueryPerformanceCounter(&counter);
    uint64_t seed = Mix((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    seed = Mix(seed ^ ((static_cast<uint64_t>(GetCurrentProcessId()) << 32) | GetCurrentThreadId()));
    seed = Mix(seed ^ GetTickCount());
    seed = Mix(seed ^ static_cast<uint64_t>(counter.QuadPart));
    // The stack lies at a random address under ASLR.
    seed = Mix(seed ^ reinterpret_cast<uintptr_t>(&seed));
    uintptr_t guard = static_cast<uintptr_t>(seed ^ (seed >> 32));
    if (guard == 0 || guard == kUnseededGuard) {
        guard = kUnseededGuard + 1;
    }
    __stack_chk_guard = guard;
}

}  // namespace
