// Starting the socket layer for the process.
#pragma once

#include "platform/Win32.h"

// Starts Windows Sockets 1.1 for the process. Succeeds only when the layer grants exactly
// version 1.1; any other granted version is handed back (WSACleanup) and refused. A later call
// in the same process succeeds at once.
BOOL AfxSocketInit(WSADATA* lpwsaData = nullptr);

// The same decision with the start-up and clean-up calls supplied (the real ones above).
using AFX_WSASTARTUP = int(WSAAPI*)(WORD wVersionRequested, LPWSADATA lpWSAData);
using AFX_WSACLEANUP = int(WSAAPI*)();
BOOL AfxSocketInitWith(AFX_WSASTARTUP pfnStartup, AFX_WSACLEANUP pfnCleanup, WSADATA* lpwsaData);
