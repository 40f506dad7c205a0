#pragma once

#include <stddef.h>

#include "core/process_state.h"

// Inst.Inf beside the program, read once into one SetupConfig that every
// stage takes as a const reference. Its keys, their defaults and bounds are
// the tables below; a new key is a field and a row here.

const int kDriverEntryCapacity = 16;
const int kOsRequirementCapacity = 32;

// How a driver entry was read: whole, without DeviceName, or incomplete
// (no DeviceID, or a value or INF path too long to be read whole).
const int kEntryRead = 0;
const int kEntryWithoutName = 50;
const int kEntryIncomplete = 87;

struct DriverEntry {
    wchar_t deviceName[kDeviceNameCapacity];
    wchar_t hardwareId[kPathCapacity];
    wchar_t infPath[kPathCapacity];
    bool infNamed;           // Inf given in [<DeviceName>], not the default place
    int status;              // kEntryRead, kEntryWithoutName or kEntryIncomplete
    const wchar_t* tooLong;  // the key whose value did not fit, or NULL
};

struct SetupConfig {
    wchar_t programDirectory[kPathCapacity];  // the program file's folder, ending in "\"
    wchar_t programName[kPathCapacity];
    wchar_t setupFilePath[kPathCapacity];
    wchar_t msi[kPathCapacity];
    wchar_t msi64[kPathCapacity];
    int debug;
    int driverCount;
    wchar_t osRequirement[kOsRequirementCapacity];
    int restartExitCode;
    int installerWaitSeconds;
    DriverEntry drivers[kDriverEntryCapacity];
};

enum SetupKeyKind { kTextKey, kNumberKey };

// One key of [Install]: its default, its bounds (a number beyond them counts
// as the bound), and the field it fills.
struct SetupKey {
    const wchar_t* name;
    SetupKeyKind kind;
    const wchar_t* defaultText;
    int defaultNumber;
    int lowest;
    int highest;
    size_t field;
    size_t capacity;  // characters, for a text
};

const int kAnyNumber = 0x7FFFFFFF;

inline constexpr SetupKey kInstallKeys[] = {
    {L"MSI", kTextKey, L"", 0, 0, 0, offsetof(SetupConfig, msi), kPathCapacity},
    {L"MSI64", kTextKey, L"", 0, 0, 0, offsetof(SetupConfig, msi64), kPathCapacity},
    {L"Debug", kNumberKey, NULL, 0, -kAnyNumber, kAnyNumber, offsetof(SetupConfig, debug), 0},
    {L"DriverNum", kNumberKey, NULL, 4, 0, kDriverEntryCapacity, offsetof(SetupConfig, driverCount), 0},
    {L"OSVER", kTextKey, L"", 0, 0, 0, offsetof(SetupConfig, osRequirement), kOsRequirementCapacity},
    {L"RestartExitCode", kNumberKey, NULL, 0, -kAnyNumber, kAnyNumber, offsetof(SetupConfig, restartExitCode), 0},
    {L"InstallerWait", kNumberKey, NULL, 600, 0, 24 * 60 * 60, offsetof(SetupConfig, installerWaitSeconds), 0},
};

// The keys of a driver entry: DeviceName and DeviceID in [Driver<n>], Inf in
// [<DeviceName>] (default Drivers\<DeviceName>\<DeviceName>.inf).
inline constexpr const wchar_t* kDriverEntryKeys[] = {L"DeviceName", L"DeviceID", L"Inf"};

// Finds the program file's own folder and Inst.Inf in it. false when the
// folder cannot be told or does not fit, or Inst.Inf cannot be opened.
bool LocateSetupFile(SetupConfig* config);

// Reads every key of Inst.Inf, after LocateSetupFile.
void ReadSetupConfig(SetupConfig* config);

// The utility's package for this edition, relative to the program folder:
// MSI64 for the 64-bit build when it is not empty, else MSI; empty for a
// driver-only product folder.
const wchar_t* PackageName(const SetupConfig& config);
