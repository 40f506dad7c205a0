// Stands in for the controller's driver file: Wine copies it on a driver
// install and GetFileVersionInfoW reads its version. Wine's device install
// also starts the service, and a driver that stayed loaded in winedevice.exe
// would keep its file locked, so that the next update could not replace it.
// Failing as a driver does that finds no hardware has Wine unload it at once.
typedef long NTSTATUS;

const NTSTATUS kStatusNoSuchDevice = static_cast<NTSTATUS>(0xC000000EL);

extern "C" NTSTATUS __stdcall DriverEntry(void*, void*)
{
    return kStatusNoSuchDevice;
}
