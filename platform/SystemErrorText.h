// The system's own words for an error code, for messages to the operator.
#pragma once

#include "platform/CString.h"
#include "platform/Win32.h"

// The message of a GetLastError code without its trailing line end and full stop, or
// "error N" when the system has none.
CString SystemErrorText(DWORD nError);
