// Find in the log pane: the standard Find dialog (modeless), and F3 / Shift+F3 for the next
// match in the last direction or the other one. A match is selected and scrolled into view.
// It searches what the pane holds, the recent tail of the session.
#pragma once

#include "platform/Controls.h"
#include "ui/TextSearch.h"

#include <commdlg.h>

class CLogFinder {
public:
    // owner: the window that owns the Find dialog and receives its message (Message()).
    CLogFinder(CWnd& owner, CRichEditCtrl& pane);
    ~CLogFinder();
    CLogFinder(const CLogFinder&) = delete;
    CLogFinder& operator=(const CLogFinder&) = delete;

    // Opens the Find dialog, or brings it forward when it is open.
    void Open();
    // The next match in the last direction (bReverse: in the other one). Opens the dialog when
    // nothing has been searched for yet.
    void FindNext(bool bReverse);
    // The owner's handler of the Find dialog's message.
    LRESULT OnFindMessage(LPARAM lParam);
    // The message the Find dialog sends its owner.
    static UINT Message();
    // For the message loop: gives the open Find dialog its keyboard (Tab, Enter, Esc).
    // Answers whether the message was the dialog's.
    bool PreTranslateMessage(MSG* pMsg);
    HWND Dialog() const { return m_hDialog; }

private:
    void Search(bool bDown);

    CWnd& m_owner;
    CRichEditCtrl& m_pane;
    char m_szWhat[256] = {};
    FINDREPLACEA m_find{};
    HWND m_hDialog = nullptr;
    TextSearch m_how;
};
