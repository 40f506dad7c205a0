#pragma once

// Bit 0 of the mode: set for the detect pass, clear for the update pass.
const int kDetectMode = 1;
const int kUpdateMode = 0;

// Results of an entry and of the pass.
const int kDriverCurrent = 0;
const int kDriverNeedsRestart = 1;
const int kDriverNotUpdated = 2;
const int kEntryUnreadable = 3;
const int kDeviceAbsent = 4;

int RunDriverPass(int mode);
int UpdateDeviceDriver(const wchar_t* deviceName, const wchar_t* infPath, const wchar_t* hardwareId, int mode);
