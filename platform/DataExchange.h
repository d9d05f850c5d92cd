// Binding a dialog's template controls to member objects by ID.
#pragma once

#include "platform/Wnd.h"

class CDataExchange {
public:
    explicit CDataExchange(CWnd* pDlgWnd) : m_pDlgWnd(pDlgWnd) {}
    CWnd* m_pDlgWnd;
};

// Binds control nIDC of the dialog to rControl (once; later calls leave the binding alone).
// A missing control is a fault in the template and stops the program.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
