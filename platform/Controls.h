// Thin wrappers of the standard controls: each call is one message to the control.
#pragma once

#include "platform/Wnd.h"

class CStatic : public CWnd {
public:
    BOOL Create(const char* lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                UINT nID = 0xFFFF) {
        return CreateEx(0, "STATIC", lpszText, dwStyle, rect, pParentWnd, nID);
    }
};

class CButton : public CWnd {
public:
    BOOL Create(const char* lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                UINT nID) {
        return CreateEx(0, "BUTTON", lpszCaption, dwStyle, rect, pParentWnd, nID);
    }
};

class CEdit : public CWnd {};

class CScrollBar : public CWnd {
public:
    BOOL GetScrollInfo(LPSCROLLINFO lpScrollInfo, UINT nMask = SIF_ALL) const {
        lpScrollInfo->cbSize = sizeof(SCROLLINFO);
        lpScrollInfo->fMask = nMask;
        return ::GetScrollInfo(m_hWnd, SB_CTL, lpScrollInfo);
    }
    BOOL SetScrollInfo(LPSCROLLINFO lpScrollInfo, BOOL bRedraw = TRUE) {
        lpScrollInfo->cbSize = sizeof(SCROLLINFO);
        ::SetScrollInfo(m_hWnd, SB_CTL, lpScrollInfo, bRedraw);
        return TRUE;
    }
    int SetScrollPos(int nPos, BOOL bRedraw = TRUE) {
        return ::SetScrollPos(m_hWnd, SB_CTL, nPos, bRedraw);
    }
    BOOL EnableScrollBar(UINT nArrowFlags = ESB_ENABLE_BOTH) {
        return ::EnableScrollBar(m_hWnd, SB_CTL, nArrowFlags);
    }
};

class CComboBox : public CWnd {
public:
    BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
        return CreateEx(0, "COMBOBOX", nullptr, dwStyle, rect, pParentWnd, nID);
    }
    int AddString(const char* lpszString) {
        return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszString)));
    }
    int DeleteString(UINT nIndex) { return static_cast<int>(SendMessage(CB_DELETESTRING, nIndex)); }
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int nSelect) {
        return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(nSelect)));
    }
};

// An extended combo box: a list of items with an edit field of its own.
class CComboBoxEx : public CComboBox {
public:
    int InsertItem(int nIndex, const char* lpszText);
    int DeleteItem(int nIndex) {
        return static_cast<int>(SendMessage(CBEM_DELETEITEM, static_cast<WPARAM>(nIndex)));
    }
    // The edit field where the operator types.
    HWND GetEditCtrl() const { return reinterpret_cast<HWND>(SendMessage(CBEM_GETEDITCONTROL)); }
};

// The rich edit 1.0 control, used as a read-only log.
class CRichEditCtrl : public CWnd {
public:
    void SetSel(long nStartChar, long nEndChar) {
        CHARRANGE range{nStartChar, nEndChar};
        SendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    }
    void ReplaceSel(const char* lpszNewText, BOOL bCanUndo = FALSE) {
        SendMessage(EM_REPLACESEL, static_cast<WPARAM>(bCanUndo),
                    reinterpret_cast<LPARAM>(lpszNewText));
    }
    void LimitText(long nChars) { SendMessage(EM_EXLIMITTEXT, 0, nChars); }
    long GetLimitText() const { return static_cast<long>(SendMessage(EM_GETLIMITTEXT)); }
    long GetTextLength() const { return static_cast<long>(::GetWindowTextLengthA(m_hWnd)); }
    int GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }
    long LineFromChar(long nIndex) const {
        return static_cast<long>(SendMessage(EM_EXLINEFROMCHAR, 0, nIndex));
    }
    int LineIndex(int nLine) const {
        return static_cast<int>(SendMessage(EM_LINEINDEX, static_cast<WPARAM>(nLine)));
    }
};
