#pragma once

#include <windows.h>

enum OptionVerdict { kOptionInvalid, kOptionAccepted, kOptionQuiet };

// Judges one command-line argument by its first three characters.
OptionVerdict CheckOption(const wchar_t* argument);

// Runs the detect pass; true when a configured controller is present.
bool DetectDevices(int* status);

// A failure's number as the exit code: one that would read as one of the
// setup's own answers 1, 2 or 3 becomes kExitStepFailed (logged).
int ReportableFailure(int failure);

// The whole run, from the command line to the last box; returns the exit code.
int RunSetup(HINSTANCE instance);

const int kExitSuccess = 0;
const int kExitNoSetupFile = 1;
const int kExitDeclined = 2;
const int kExitRefused = 3;
const int kDriverPassFailed = 87;
// ERROR_INSTALL_ALREADY_RUNNING, which deployment tools take as "try again later".
const int kExitAlreadyRunning = 1618;
// ERROR_INSTALL_FAILURE, for a step that failed with a number of 1, 2 or 3.
const int kExitStepFailed = 1603;
