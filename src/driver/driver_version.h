#pragma once

const int kVersionTextCapacity = 64;

// 1 when the INF's DriverVer (into newVersion, of kVersionTextCapacity) is
// newer than the file version of the installed driver service named
// deviceName, 0 when it is not, 2 when either version cannot be read.
int CheckDriverVersion(const wchar_t* infPath, const wchar_t* deviceName, wchar_t* newVersion);

int ReadInfDriverVersion(const wchar_t* infPath, wchar_t* newVersion);
int ReadInstalledDriverVersion(const wchar_t* deviceName, wchar_t* currentVersion);
int GetFileVersionText(const wchar_t* path, wchar_t* versionText);
void ParseDriverVersion(const wchar_t* text, int numbers[4]);
int CompareDriverVersions(const wchar_t* currentVersion, const wchar_t* newVersion);
