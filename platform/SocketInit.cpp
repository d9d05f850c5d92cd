#include "platform/SocketInit.h"

BOOL AfxSocketInitWith(AFX_WSASTARTUP pfnStartup, AFX_WSACLEANUP pfnCleanup, WSADATA* lpwsaData) {
    WSADATA data{};
    if (lpwsaData == nullptr)
        lpwsaData = &data;
    if (pfnStartup(MAKEWORD(1, 1), lpwsaData) != 0)
        return FALSE;
    if (LOBYTE(lpwsaData->wVersion) != 1 || HIBYTE(lpwsaData->wVersion) != 1) {
        pfnCleanup();
        return FALSE;
    }
    return TRUE;
}

BOOL AfxSocketInit(WSADATA* lpwsaData) {
    static bool started = false;
    if (started)
        return TRUE;
    started = AfxSocketInitWith(&::WSAStartup, &::WSACleanup, lpwsaData) != FALSE;
    return started ? TRUE : FALSE;
}
