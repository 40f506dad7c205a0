#pragma once

#include "config/setup_config.h"

// Bit 0 of the mode: set for the detect pass, clear for the update pass.
const int kDetectMode = 1;
const int kUpdateMode = 0;

// Results of an entry and of the pass.
const int kDriverCurrent = 0;
const int kDriverNeedsRestart = 1;
const int kDriverNotUpdated = 2;
const int kEntryUnreadable = 3;
const int kDeviceAbsent = 4;

// Goes through the driver entries in order and ends at the first whose
// device is present and whose driver is current afterwards (detect mode: whose
// device is present). The result of the last entry tried.
int RunDriverPass(const SetupConfig& config, int mode);
