#include "platform/Dialog.h"

#include "platform/WinApp.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
    ON_MESSAGE(WM_COMMANDHELP, OnCommandHelp)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    AfxInitCommonControls();
    // Without a parent of its own, a dialog is owned by the main window (when that is a
    // different window that exists), which stays disabled while the dialog runs.
    HWND hOwner = nullptr;
    if (m_pParentWnd != nullptr) {
        hOwner = m_pParentWnd->m_hWnd;
    } else if (CWnd* pMainWnd = AfxGetMainWnd(); pMainWnd != nullptr && pMainWnd != this) {
        hOwner = pMainWnd->m_hWnd;
    }
    return ::DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), hOwner,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam) {
    // Only WM_INITDIALOG is handled here: it binds the object. From then on the subclass
    // procedure sees every message first, and the dialog manager's own handling, which calls
    // this procedure again, is what Default means.
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* self = reinterpret_cast<CDialog*>(lParam);
    if (self == nullptr || !self->SubclassWindow(hWnd))
        return FALSE;
    return self->OnInitDialog();
}

BOOL CDialog::OnInitDialog() {
    CDataExchange dx(this);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCmdMsg(UINT nID, UINT nCode, WPARAM wParam, LPARAM lParam) {
    if (CWnd::OnCmdMsg(nID, nCode, wParam, lParam))
        return TRUE;
    // Commands the dialog does not handle go on to the application (Help, for instance).
    CWinApp* pApp = AfxGetApp();
    return pApp != nullptr && pApp->OnCmdMsg(nID, nCode, wParam, lParam);
}

LRESULT CDialog::OnCommandHelp(WPARAM, LPARAM lParam) {
    if (lParam == 0 && m_nIDTemplate != 0)
        lParam = static_cast<LPARAM>(HID_BASE_RESOURCE + m_nIDTemplate);
    CWinApp* pApp = AfxGetApp();
    if (lParam == 0 || pApp == nullptr)
        return FALSE;
    pApp->WinHelp(static_cast<DWORD_PTR>(lParam), HELP_CONTEXT);
    return TRUE;
}
