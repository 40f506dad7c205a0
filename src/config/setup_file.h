#pragma once

#include "core/setup_state.h"

// Finds Inst.Inf beside the running program file and reads the Debug and MSI
// switches. false when the program's folder cannot be told or does not fit,
// or when Inst.Inf cannot be opened.
bool LocateSetupFile();

// The utility's package named in Inst.Inf, relative to the program folder:
// MSI64 for the 64-bit build when it is there and not empty, else MSI. Its
// length; 0 for a driver-only product folder.
DWORD ReadPackageName(wchar_t* package);

// Install/InstallerWait: how long the utility stage waits while another
// installation keeps Windows Installer busy, in seconds (default 600; a value
// below 0 counts as 0, one above a day as a day).
DWORD ReadInstallerWaitSeconds();

// Reads entry "Driver<index>". 0 when read whole, 50 without a device name,
// 87 without a hardware ID, with a device name or hardware ID too long for its
// buffer, or when the entry's INF path does not fit.
int ReadDriverEntry(const wchar_t* programDirectory, const wchar_t* setupFilePath, int index, DriverEntry* entry);

const int kEntryWithoutName = 50;
const int kDefaultInstallerWaitSeconds = 600;
const int kLongestInstallerWaitSeconds = 24 * 60 * 60;
const int kEntryIncomplete = 87;
