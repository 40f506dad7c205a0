// The least that a search for a controller costs: list the present devices and
// read each one's hardware IDs, as setup.exe does before it finds none. The
// benchmark sets setup.exe's "no controller" run against this floor.
#include <windows.h>
#include <setupapi.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)showCommand;
    int result = 1;
    HDEVINFO devices = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device;
    BYTE ids[10000];
    DWORD read = 0;

    devices = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        goto cleanup;
    }
    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        DWORD type = 0;
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, &type, ids, sizeof(ids), NULL)) {
            ++read;
        }
    }
    if (GetLastError() != ERROR_NO_MORE_ITEMS || read == 0) {
        goto cleanup;
    }
    result = 0;

cleanup:
    if (devices != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(devices);
    }
    return result;
}
