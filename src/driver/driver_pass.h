#pragma once

#include "config/setup_config.h"
#include "driver/driver_version.h"

// Bit 0 of the mode: set for the detect pass, clear for the update pass.
const int kDetectMode = 1;
const int kUpdateMode = 0;

// Results of an entry and of the pass.
const int kDriverCurrent = 0;
const int kDriverNeedsRestart = 1;
const int kDriverNotUpdated = 2;
const int kEntryUnreadable = 3;
const int kDeviceAbsent = 4;

// A driver update that an earlier run made and that waits for Windows to
// restart: until it does, the installed file is still the old one.
struct PendingDriverUpdate {
    bool waiting;  // Windows has not restarted since
    wchar_t infPath[kPathCapacity];
    wchar_t version[kVersionTextCapacity];
};

// Where the pass ended, and what it did there.
struct DriverPassReport {
    int entry;                              // the entry it ended at; -1: none
    bool updated;                           // its driver was updated by this run
    bool restartPending;                    // that entry's update waits for a restart
    wchar_t version[kVersionTextCapacity];  // the INF's DriverVer of that update
};

// Goes through the driver entries in order and ends at the first whose
// device is present and whose driver is current afterwards (detect mode: whose
// device is present). An update that pending says is done and waits for a
// restart is not made again. The result of the last entry tried.
int RunDriverPass(const SetupConfig& config, int mode, const PendingDriverUpdate& pending, DriverPassReport* report);
