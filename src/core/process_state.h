#pragma once

#include <windows.h>

const int kPathCapacity = 260;
const int kDeviceNameCapacity = 64;
const int kVersionCapacity = 64;

// What is process-wide by nature: the module whose resources the boxes and the
// progress window use, and whether the run is quiet. Written once, by the
// entry point and the option check; everything else travels as arguments.
struct ProcessState {
    HINSTANCE instanceHandle;
    bool quiet;
};

extern ProcessState g_process;
