#pragma once

// 1 when a present device lists the wanted ID among its hardware IDs: whole
// strings, compared code unit by code unit. 0 when none does or the search fails.
int FindExistingDevice(const wchar_t* wanted);
