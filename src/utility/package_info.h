#pragma once

#include <windows.h>
#include <msi.h>

// Copies the package named in Inst.Inf into the package cache before anyone
// is asked, so that the run reads, and msiexec installs, what was there then:
// packagePath names the copy, or packageCopyResult the failure. A product
// folder that others than administrators can change is named in the log.
void CopyPackageToCache();

// Deletes the package's copy, unless it is now an installed product's source.
void RemovePackageCopyUnlessKept();

// Reads ProductCode and ProductVersion of the copy of the package named by
// Install/MSI. 0 when both were read, 2 when Inst.Inf names no package,
// otherwise the failure of its copy or the error of opening it, or 1620 when
// it lacks either property.
int ReadPackageInfo();

// The first column of the first row of the query, into output.
int QueryPackageProperty(MSIHANDLE database, MSIHANDLE parameters, const wchar_t* query, wchar_t* output,
                         DWORD capacity);

const int kNoPackage = 2;
