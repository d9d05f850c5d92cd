// Writing a file whole or not at all: the content goes to a new file beside the chosen one,
// which takes its place only once it is complete. A write that fails half-way leaves a file
// that was there as it was.
#pragma once

#include "platform/CString.h"
#include "platform/Win32.h"

#include <functional>

// write fills the new file (from its start) and answers false, with the system's error code,
// when it cannot. Answers whether path now holds what was written; otherwise nError says why.
bool WriteWholeFile(const CString& path,
                    const std::function<bool(HANDLE hFile, DWORD& nError)>& write, DWORD& nError);
