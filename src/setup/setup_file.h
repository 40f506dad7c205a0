#pragma once

#include "setup/setup_state.h"

// Finds Inst.Inf beside the running program file and reads the Debug and MSI
// switches. false when the program's folder cannot be told or does not fit,
// or when Inst.Inf cannot be opened.
bool LocateSetupFile();

// Reads entry "Driver<index>". 0 when read whole, 50 without a device name,
// 87 without a hardware ID or when the entry's INF path does not fit.
int ReadDriverEntry(const wchar_t* programDirectory, const wchar_t* setupFilePath, int index, DriverEntry* entry);

const int kEntryWithoutName = 50;
const int kEntryIncomplete = 87;
