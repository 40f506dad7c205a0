#pragma once

#include <windows.h>

// Yes/No question with string id. 1 for Yes, 0 otherwise; 1 without a box in
// quiet mode.
int AskYesNo(UINT id);

// Information or error box with string id; nothing in quiet mode.
void ShowMessage(UINT id, UINT type);

// "Installation operation failed.(n)"; shown in quiet mode too, since an
// unattended run must not fail unseen. Only a quiet run on a window station
// that is not visible writes the text to the debug log instead.
void ShowFailure(int number);

// Box with string id that quiet mode shows too, with the same exception.
void ShowMessageEvenWhenQuiet(UINT id, UINT type);

// The string id of the UI's language, "" when it cannot be loaded.
void LoadText(UINT id, wchar_t* buffer, int capacity);

// An information box with text; nothing in quiet mode.
void ShowInformation(const wchar_t* text);

// The completion box; nothing in quiet mode.
void ShowCompleted();
