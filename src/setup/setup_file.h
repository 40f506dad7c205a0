#pragma once

#include "setup/setup_state.h"

// Finds Inst.Inf beside the executable named by argument 0 and reads the
// Debug and MSI switches. false when Inst.Inf cannot be opened.
bool LocateSetupFile(const wchar_t* argument0);

// Reads entry "Driver<index>". 0 when read whole, 50 without a device name,
// 87 without a hardware ID or when the entry's INF path does not fit.
int ReadDriverEntry(const wchar_t* programDirectory, const wchar_t* setupFilePath, int index, DriverEntry* entry);

const int kEntryWithoutName = 50;
const int kEntryIncomplete = 87;
