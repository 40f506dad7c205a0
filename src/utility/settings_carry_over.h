#pragma once

#include <windows.h>

#include "core/process_state.h"
#include "utility/service_control.h"

// The service settings across the removal of the old utility, carried by a
// record that outlives the run: before the removal, the settings key is read
// through the registry API and exported with the registry editor into a folder
// of its own under %ProgramData%\VANTIRO\RAID Setup\Carry-over, that only
// SYSTEM and Administrators can change, with a record of the upgrade; all of
// it is on disk before anything is removed. After the installation the export
// is imported, the key is read back and compared, the service restarted, and
// only then is the folder deleted. A run that ends before (a failed
// installation, Windows restarting, a busy Windows Installer) leaves it for
// the next run, which finishes the upgrade.

const int kRecordTimeCapacity = 32;

struct CarryOver {
    bool active;                          // a record of this upgrade is on disk
    wchar_t folder[kPathCapacity];        // record, export and values
    wchar_t time[kRecordTimeCapacity];    // UTC time of the removal, YYYY-MM-DDThh:mm:ssZ
    wchar_t productCode[kPathCapacity];   // the removed product
    wchar_t version[kVersionCapacity];    // its version
    REGSAM view;                          // the registry view of its keys
    wchar_t targetFolder[kPathCapacity];  // TARGETDIR for the new version; empty: the package's own
    bool hasSettings;                     // there was a settings key to carry
    DependentServices dependents;         // the services that ran on zelmsvc
};

// Writes the carry-over of the installed utility (view, product code,
// version, target folder) down: dependents, values, export and record, all
// flushed. ERROR_SUCCESS with carry active; otherwise the failure's number,
// and nothing is left behind.
DWORD SaveCarryOver(CarryOver* carry);

// The newest record that a run left unfinished: ERROR_SUCCESS with carry
// active, or not when there is none; 1392 (ERROR_FILE_CORRUPT) when a record
// cannot be read or its export is gone.
DWORD FindUnfinishedCarryOver(CarryOver* carry);

// Imports the export into the recorded view and reads the key back; with
// restartService, restarts zelmsvc and the recorded dependents. Deletes the
// carry-over when all of it succeeded; otherwise it stays, named in the log.
// ERROR_SUCCESS, or the failure's number: the registry editor's, 1013
// (ERROR_CANTWRITE) when the key does not hold what was exported, the
// service's.
DWORD CompleteCarryOver(CarryOver* carry, bool restartService);

// After the old version stayed: nothing was removed, the carry-over goes.
void DiscardCarryOver(CarryOver* carry);

// After the old version is gone and the new one is not there: the carry-over
// stays for the next run, and the log says where.
void KeepCarryOver(const CarryOver& carry);
