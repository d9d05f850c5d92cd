#include "platform/DataExchange.h"

#include <cstdio>
#include <cstdlib>

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd != nullptr)
        return;
    HWND hControl = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (hControl == nullptr || !rControl.SubclassWindow(hControl)) {
        std::fprintf(stderr, "dialog control %d is missing from its template\n", nIDC);
        std::abort();
    }
}
