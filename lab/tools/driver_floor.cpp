// The least that a driver update costs: the one UpdateDriverForPlugAndPlayDevicesW
// call that setup.exe makes, forced, for a hardware ID and an INF given on the
// command line. The benchmark sets setup.exe's quiet updating run against it.
//   driver_floor <hardwareId> <infPath>
#include <windows.h>
#include <newdev.h>
#include <stdlib.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int showCommand)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)showCommand;
    if (__argc != 3) {
        return 1;
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(NULL, __wargv[1], __wargv[2], INSTALLFLAG_FORCE, &reboot)) {
        return 2;
    }
    return 0;
}
