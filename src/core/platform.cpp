#include "core/platform.h"

bool Is64BitBuild()
{
    return sizeof(void*) == 8;
}

bool IsRunningUnderWow64()
{
    BOOL wow64 = FALSE;
    // A failed query leaves the flag false: the version check then decides.
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}
