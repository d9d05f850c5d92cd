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
    // As DialogBoxParam does: the owner is disabled first, so the dialog is never created
    // beside a live owner, and enabled again before the dialog goes, so that it gets the
    // activation back.
    m_hDisabledOwner = nullptr;
    if (hOwner != nullptr && ::IsWindowEnabled(hOwner)) {
        ::EnableWindow(hOwner, FALSE);
        m_hDisabledOwner = hOwner;
    }
    m_bEnded = false;
    m_nResult = -1;
    HWND hWnd = ::CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate),
                                     hOwner, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    const INT_PTR result = hWnd != nullptr ? RunModalLoop(hWnd) : -1;
    EnableOwner();
    if (hWnd != nullptr && ::IsWindow(hWnd))
        ::DestroyWindow(hWnd);
    return result;
}

void CDialog::EnableOwner() {
    if (m_hDisabledOwner != nullptr)
        ::EnableWindow(m_hDisabledOwner, TRUE);
    m_hDisabledOwner = nullptr;
}

INT_PTR CDialog::RunModalLoop(HWND hWnd) {
    if (!m_bEnded && !(::GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_VISIBLE)) {
        ::ShowWindow(hWnd, SW_SHOWNORMAL);
        ::UpdateWindow(hWnd);
    }
    MSG msg;
    while (!m_bEnded && ::IsWindow(hWnd)) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            // Quitting: the dialog ends, and the loop that ran it sees the quit too.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (PreTranslateMessage(&msg) || ::IsDialogMessageA(hWnd, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return m_nResult;
}

void CDialog::EndDialog(int nResult) {
    m_nResult = nResult;
    m_bEnded = true;
    // The owner first, so that it is the window that gets the activation when this one hides.
    EnableOwner();
    if (m_hWnd != nullptr) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        // Wakes the loop when this was called outside a message it dispatched.
        ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
    }
}

BOOL CDialog::PreTranslateMessage(MSG*) {
    return FALSE;
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
