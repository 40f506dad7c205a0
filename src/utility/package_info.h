#pragma once

#include <windows.h>
#include <msi.h>

// Reads ProductCode and ProductVersion of the package named by Install/MSI.
// 0 when both were read, 2 when Inst.Inf names no package, otherwise the
// error of opening the package, or 1620 when it lacks either property.
int ReadPackageInfo();

// The first column of the first row of the query, into output.
int QueryPackageProperty(MSIHANDLE database, MSIHANDLE parameters, const wchar_t* query, wchar_t* output,
                         DWORD capacity);

const int kNoPackage = 2;
