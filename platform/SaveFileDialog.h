// The standard Save dialog, asked for the name of one file to write.
#pragma once

#include "platform/CString.h"
#include "platform/Win32.h"

#include <commdlg.h>

// The dialog's entry. Tests replace it to answer without one.
using SAVE_FILE_NAME_FUNCTION = BOOL(WINAPI*)(LPOPENFILENAMEA);
extern SAVE_FILE_NAME_FUNCTION g_pfnGetSaveFileName;

struct SaveFileQuestion {
    const char* pszTitle = nullptr;
    // Pairs of a description and its patterns, each ended by '\0', the list by another '\0'.
    const char* pszFilter = nullptr;
    const char* pszDefaultExtension = nullptr; // added to a name typed without one; null: none
    CString defaultName;
};

// Shows the dialog, owned by hOwner, asking before it lets an existing file be replaced.
// Answers whether a name was chosen; path receives it, and filterIndex (when given) the filter
// chosen, counted from 1.
bool AskSaveFileName(HWND hOwner, const SaveFileQuestion& question, CString& path,
                     int* pFilterIndex = nullptr);
