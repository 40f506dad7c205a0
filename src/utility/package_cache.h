#pragma once

#include <windows.h>

// The utility's package is run from a copy in a cache that only SYSTEM and
// Administrators can change, %ProgramData%\VANTIRO\RAID Setup\Package Cache:
// what msiexec installs is what was read and confirmed, whoever can write to
// the product folder. The copy of an installed version stays as its source,
// for a repair that needs the package; one folder per product code and
// version, as "<ProductCode>v<ProductVersion>".

// Copies source into a new staging folder of the cache; staged (of
// kPathCapacity) names the copy. ERROR_SUCCESS, or the Windows error
// (ERROR_INSTALL_PACKAGE_OPEN_FAILED when the package cannot be read).
int StagePackage(const wchar_t* source, wchar_t* staged);

// The folder and path that the package of productCode and version has in the
// cache, for a package named like staged. ERROR_SUCCESS, ERROR_INSTALL_PACKAGE_INVALID
// for a code or version that cannot name a folder, or ERROR_FILENAME_EXCED_RANGE.
int ComposeCachedPackage(const wchar_t* staged, const wchar_t* productCode, const wchar_t* version, wchar_t* entry,
                         wchar_t* cached);

// Moves the staged copy to its place in the cache, replacing an entry of the
// same code and version; *cached (of kPathCapacity) names it there.
int CachePackage(const wchar_t* staged, const wchar_t* productCode, const wchar_t* version, wchar_t* cached);

// Deletes a staged or cached copy with its folder.
void RemovePackageCopy(const wchar_t* package);

// Deletes the cached package of a version that was removed, when there is one.
void RemoveCachedVersion(const wchar_t* productCode, const wchar_t* version);
