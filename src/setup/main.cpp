#include <windows.h>

#include "setup/main_sequence.h"
#include "core/system_libraries.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int showCommand)
{
    (void)previous;
    (void)commandLine;
    (void)showCommand;
    RestrictDllSearch();
    return static_cast<int>(RunSetup(instance));
}
