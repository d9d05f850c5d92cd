#include "platform/Wnd.h"

#include "platform/WinApp.h"

namespace {
// All bound windows share one subclass procedure; this is its ID.
constexpr UINT_PTR SUBCLASS_ID = 0x4B454C56;
} // namespace

CWnd::~CWnd() {
    if (m_hWnd == nullptr)
        return;
    if (m_bOwnsWindow)
        DestroyWindow();
    else
        UnsubclassWindow();
}

void CWnd::Attach(HWND hWnd) {
    m_hWnd = hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (hWnd == nullptr || m_hWnd != nullptr)
        return FALSE;
    if (!::SetWindowSubclass(hWnd, &CWnd::SubclassProc, SUBCLASS_ID,
                             reinterpret_cast<DWORD_PTR>(this)))
        return FALSE;
    Attach(hWnd);
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    HWND hWnd = m_hWnd;
    if (hWnd != nullptr)
        ::RemoveWindowSubclass(hWnd, &CWnd::SubclassProc, SUBCLASS_ID);
    m_hWnd = nullptr;
    m_bOwnsWindow = false;
    return hWnd;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, const char* lpszClassName, const char* lpszWindowName,
                    DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    if (m_hWnd != nullptr)
        return FALSE;
    HWND hParent = pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr;
    HMENU hMenuOrId =
        (dwStyle & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)) : nullptr;
    HWND hWnd = ::CreateWindowExA(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left,
                                  rect.top, rect.right - rect.left, rect.bottom - rect.top, hParent,
                                  hMenuOrId, AfxGetInstanceHandle(), nullptr);
    if (hWnd == nullptr)
        return FALSE;
    if (!SubclassWindow(hWnd)) {
        ::DestroyWindow(hWnd);
        return FALSE;
    }
    m_bOwnsWindow = true;
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (m_hWnd == nullptr)
        return FALSE;
    // WM_NCDESTROY unbinds the object on the way.
    return ::DestroyWindow(m_hWnd);
}

CString CWnd::GetWindowText(HWND hWnd) {
    CString text;
    const int length = ::GetWindowTextLengthA(hWnd);
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        const int copied = ::GetWindowTextA(hWnd, text.data(), length + 1);
        text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    }
    return text;
}

BOOL CWnd::ModifyStyle(HWND hWnd, DWORD dwRemove, DWORD dwAdd) {
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(hWnd, GWL_STYLE));
    const DWORD newStyle = (style & ~dwRemove) | dwAdd;
    if (style == newStyle)
        return FALSE;
    ::SetWindowLongPtrA(hWnd, GWL_STYLE, static_cast<LONG_PTR>(newStyle));
    return TRUE;
}

BOOL CWnd::ModifyStyleEx(DWORD dwRemove, DWORD dwAdd) {
    const DWORD style = GetExStyle();
    const DWORD newStyle = (style & ~dwRemove) | dwAdd;
    if (style == newStyle)
        return FALSE;
    ::SetWindowLongPtrA(m_hWnd, GWL_EXSTYLE, static_cast<LONG_PTR>(newStyle));
    return TRUE;
}

void CWnd::ScreenToClient(LPRECT lpRect) const {
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(lpRect), 2);
}

void CWnd::MoveWindow(const RECT& rect, BOOL bRepaint) {
    ::MoveWindow(m_hWnd, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 bRepaint);
}

int CWnd::MessageBox(const char* lpszText, const char* lpszCaption, UINT nType) {
    return ::MessageBoxA(m_hWnd, lpszText, lpszCaption != nullptr ? lpszCaption : AfxGetAppName(),
                         nType);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    // A menu command (code 0) and an accelerator's (code 1) are the same command.
    const UINT nCode = lParam == 0 ? 0 : HIWORD(wParam);
    return OnCmdMsg(LOWORD(wParam), nCode, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam))
            return FALSE;
        *pResult = 1;
        return TRUE;
    }
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message);
    if (entry == nullptr)
        return FALSE;
    *pResult = entry->pfnInvoke(this, wParam, lParam);
    return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::Default() {
    return DefWindowProc(m_currentMsg.message, m_currentMsg.wParam, m_currentMsg.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefSubclassProc(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnHelpInfo(HELPINFO*) {
    if (!(GetStyle() & WS_CHILD)) {
        CWnd* pMainWnd = AfxGetMainWnd();
        if (pMainWnd != nullptr && pMainWnd->m_hWnd != nullptr && ::GetKeyState(VK_SHIFT) >= 0 &&
            ::GetKeyState(VK_CONTROL) >= 0 && ::GetKeyState(VK_MENU) >= 0) {
            pMainWnd->SendMessage(WM_COMMAND, ID_HELP);
            return TRUE;
        }
    }
    return static_cast<BOOL>(Default());
}

void CWnd::OnVScroll(UINT, UINT, HWND) {
    Default();
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR dwRefData) {
    CWnd* self = reinterpret_cast<CWnd*>(dwRefData);
    if (message == WM_NCDESTROY) {
        const LRESULT result = ::DefSubclassProc(hWnd, message, wParam, lParam);
        ::RemoveWindowSubclass(hWnd, &CWnd::SubclassProc, SUBCLASS_ID);
        self->m_hWnd = nullptr;
        self->m_bOwnsWindow = false;
        self->PostNcDestroy();
        return result;
    }
    // Handlers may send messages to their own window, so the message being handled is
    // saved around the call.
    const CurrentMessage saved = self->m_currentMsg;
    self->m_currentMsg = {message, wParam, lParam};
    const LRESULT result = self->WindowProc(message, wParam, lParam);
    self->m_currentMsg = saved;
    return result;
}
