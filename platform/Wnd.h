// CWnd: a window bound to a C++ object. Messages reach the object through a subclass
// procedure, which runs the class's message map and passes everything else on (Default).
// The binding ends by itself when the window is destroyed, so a CWnd never holds a dead handle.
#pragma once

#include "platform/CString.h"
#include "platform/MessageMap.h"
#include "platform/Win32.h"

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    // Destroys a window this object created; only lets go of one it was bound to.
    ~CWnd() override;

    operator HWND() const { return m_hWnd; }

    // Binds an existing window (a dialog's control) to this object without owning it.
    BOOL SubclassWindow(HWND hWnd);
    // Ends the binding without destroying the window.
    HWND UnsubclassWindow();
    // Creates a child window owned by this object; deleting the object destroys it.
    BOOL CreateEx(DWORD dwExStyle, const char* lpszClassName, const char* lpszWindowName,
                  DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
    BOOL DestroyWindow();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }

    void SetWindowText(const char* lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }
    CString GetWindowText() const { return GetWindowText(m_hWnd); }
    static CString GetWindowText(HWND hWnd);
    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    HWND GetParent() const { return ::GetParent(m_hWnd); }
    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }

    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const {
        return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
    }
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd) { return ModifyStyle(m_hWnd, dwRemove, dwAdd); }
    BOOL ModifyStyleEx(DWORD dwRemove, DWORD dwAdd);
    static BOOL ModifyStyle(HWND hWnd, DWORD dwRemove, DWORD dwAdd);

    void GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    void ScreenToClient(LPRECT lpRect) const;
    void MoveWindow(const RECT& rect, BOOL bRepaint = TRUE);
    void ScrollWindow(int xAmount, int yAmount, const RECT* lpRect = nullptr,
                      const RECT* lpClipRect = nullptr) {
        ::ScrollWindow(m_hWnd, xAmount, yAmount, lpRect, lpClipRect);
    }
    BOOL RedrawWindow(const RECT* lpRectUpdate = nullptr, HRGN hrgnUpdate = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE) {
        return ::RedrawWindow(m_hWnd, lpRectUpdate, hrgnUpdate, flags);
    }

    void SetFont(HFONT hFont, BOOL bRedraw = TRUE) {
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(hFont), bRedraw);
    }
    HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }

    HMENU GetMenu() const { return ::GetMenu(m_hWnd); }
    HMENU GetSystemMenu(BOOL bRevert) const { return ::GetSystemMenu(m_hWnd, bRevert); }

    // A modal message box owned by this window, captioned with the application's name
    // unless a caption is given.
    int MessageBox(const char* lpszText, const char* lpszCaption = nullptr, UINT nType = MB_OK);

    // Handles a WM_COMMAND. The default runs the message map (OnCmdMsg). Answers TRUE when
    // the command was handled.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

protected:
    // Every message of the bound window comes here first.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Finds the message-map entry for a message and runs it. Answers FALSE when no entry did.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // The window's own processing of the message being handled now.
    LRESULT Default();
    // The window's own processing of any message (outside the message being handled).
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window's last message; the object is unbound by then.
    virtual void PostNcDestroy() {}

    // Default answer to F1: asks the main window for help on the active context.
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    // Default scroll-bar handling.
    void OnVScroll(UINT nSBCode, UINT nPos, HWND hScrollBar);

    void Attach(HWND hWnd);

    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR uIdSubclass, DWORD_PTR dwRefData);

private:
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    CurrentMessage m_currentMsg{};
    bool m_bOwnsWindow = false;
};

// The framework's private message asking a window for context help; answered by dialogs.
constexpr UINT WM_COMMANDHELP = 0x0365;
// The standard Help command.
constexpr UINT ID_HELP = 0xE146;
