#pragma once

#include <windows.h>

// The utility's service and the services that depend on it, stopped and
// started through the service control manager: no program that could ask a
// question on a hidden console, and Windows' own error numbers.

const int kServiceNameCapacity = 257;
const int kDependentCapacity = 16;

// Services that depend on zelmsvc and ran, to be started again afterwards:
// Windows Installer stops them with zelmsvc and leaves them stopped.
struct DependentServices {
    int count;
    wchar_t names[kDependentCapacity][kServiceNameCapacity];
};

// Adds the running dependents of zelmsvc to *dependents. 0, or the Windows
// error that kept them from being listed.
int RecordRunningDependents(DependentServices* dependents);

// Stops the running dependents and zelmsvc, starts zelmsvc and then every
// dependent stopped here or recorded before. 0 when all of them run
// afterwards; otherwise the Windows error of the step that failed, or 1062
// (ERROR_SERVICE_NOT_ACTIVE) for a service that stopped again after its start.
int RestartService(const DependentServices& recorded);
