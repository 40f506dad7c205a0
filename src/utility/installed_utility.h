#pragma once

#include <windows.h>

#include "utility/utility_plan.h"

// Whether Windows Installer knows the package's product, and how its
// DisplayVersion stands to the package's version; the registry view of its
// uninstall entry and keys. A DisplayVersion too long to be read whole is
// unreadable: cut, it would compare wrongly.
void FindInstalledUtility(UtilityPlan* plan);

// The parent of the installed utility's InstallationDirectory, into
// plan->targetFolder when the new version can go there; otherwise empty, and
// the package's own folder is used. ERROR_SUCCESS, or why the folder is not
// used.
LONG FindTargetFolder(UtilityPlan* plan);

// Whether the parent folder recorded for a new version can still take it.
bool IsUsableTargetFolder(const UtilityPlan& plan, const wchar_t* folder);

// Every character but "." counts as a digit by its code.
void ParseUtilityVersion(const wchar_t* text, int parts[4]);

// 1 when packageVersion is newer than installedVersion.
int IsNewerUtilityVersion(const wchar_t* packageVersion, const wchar_t* installedVersion);

// Opens the product's uninstall entry in the view Windows Installer keeps it
// in, the view of the package's platform; *view says which.
LONG OpenUninstallEntry(const wchar_t* productCode, HKEY* key, REGSAM* view);
