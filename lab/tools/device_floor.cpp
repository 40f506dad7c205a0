// The least that a search for a controller costs: list the present devices and
// read each one's hardware IDs, as setup.exe does before it finds none.
#include <windows.h>
#include <setupapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HDEVINFO devices = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return 1;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    BYTE ids[10000];
    DWORD read = 0;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, NULL, ids, sizeof(ids), NULL))
            ++read;
    }
    const bool ok = GetLastError() == ERROR_NO_MORE_ITEMS && read > 0;
    SetupDiDestroyDeviceInfoList(devices);
    return ok ? 0 : 1;
}
