// Message boxes that are not owned by a particular window.
#pragma once

#include "platform/Win32.h"

// A modal message box captioned with the application's name and owned by the main window
// when there is one. A plain MB_OK box gets the exclamation icon.
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK);
// The same with the text of a string resource.
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK);
