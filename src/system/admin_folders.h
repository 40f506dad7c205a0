#pragma once

#include <windows.h>

// Folders that only SYSTEM and Administrators can change: the machine folder
// of the setup under %ProgramData%, and the private folders made in it or in
// the temporary folder. A folder that exists is used only when nobody else
// can change it; otherwise it is set aside under another name and made anew,
// never used as found.

// "%ProgramData%\VANTIRO\RAID Setup", or a folder of its own below it (sub
// not empty), each level checked or made. ERROR_SUCCESS with folder, or the
// Windows error (folder then names the level that failed);
// ERROR_FILENAME_EXCED_RANGE when the path does not fit. setAside (of
// kPathCapacity) names a folder that was set aside, or is empty.
int OpenMachineFolder(const wchar_t* sub, wchar_t* folder, wchar_t* setAside);

// The same folder as it is, made and changed in nothing: ERROR_SUCCESS when
// every level is there and nobody else can change it, ERROR_FILE_NOT_FOUND
// when one is missing, ERROR_ACCESS_DENIED when others could change one.
int LocateMachineFolder(const wchar_t* sub, wchar_t* folder);

// A new folder that only SYSTEM and Administrators can change, with what is
// made in it; fails (ERROR_ALREADY_EXISTS) when the name is taken.
int CreateAdminFolder(const wchar_t* path);

// A new folder "<parent>\<prefix><16 random hex digits>" made by
// CreateAdminFolder. ERROR_SUCCESS with folder, or the Windows error.
int CreateRandomAdminFolder(const wchar_t* parent, const wchar_t* prefix, wchar_t* folder);

// Deletes a folder and everything in it; a link in it is removed, never
// followed. false when something stayed.
bool DeleteFolderTree(const wchar_t* folder);

// The accounts other than SYSTEM, Administrators, TrustedInstaller and the
// folder's owner that may change the folder or files in it, as "DOMAIN\name"
// separated by ", "; empty when there are none or they cannot be told.
void DescribeOtherWriters(const wchar_t* folder, wchar_t* writers, size_t capacity);
