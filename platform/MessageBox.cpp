#include "platform/MessageBox.h"

#include "platform/WinApp.h"
#include "platform/Wnd.h"

int AfxMessageBox(const char* lpszText, UINT nType) {
    if ((nType & MB_ICONMASK) == 0 && (nType & MB_TYPEMASK) == MB_OK)
        nType |= MB_ICONEXCLAMATION;
    CWnd* pMainWnd = AfxGetMainWnd();
    HWND hOwner = pMainWnd != nullptr ? pMainWnd->m_hWnd : nullptr;
    return ::MessageBoxA(hOwner, lpszText, AfxGetAppName(), nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType) {
    char text[512] = {};
    ::LoadStringA(AfxGetInstanceHandle(), nIDPrompt, text, static_cast<int>(sizeof text));
    return AfxMessageBox(text, nType);
}
