#include "ui/LogFinder.h"

#include "platform/CString.h"
#include "platform/WinApp.h"

#include <string>

CLogFinder::CLogFinder(CWnd& owner, CRichEditCtrl& pane) : m_owner(owner), m_pane(pane) {
    m_find.lStructSize = sizeof m_find;
    m_find.lpstrFindWhat = m_szWhat;
    m_find.wFindWhatLen = sizeof m_szWhat;
    m_find.Flags = FR_DOWN;
}

CLogFinder::~CLogFinder() {
    // Normally gone already, with the window that owns it.
    if (m_hDialog != nullptr && ::IsWindow(m_hDialog))
        ::DestroyWindow(m_hDialog);
}

UINT CLogFinder::Message() {
    static const UINT message = ::RegisterWindowMessageA(FINDMSGSTRINGA);
    return message;
}

void CLogFinder::Open() {
    if (m_hDialog != nullptr) {
        ::SetActiveWindow(m_hDialog);
        return;
    }
    m_find.hwndOwner = m_owner.m_hWnd;
    m_hDialog = ::FindTextA(&m_find);
}

void CLogFinder::FindNext(bool bReverse) {
    if (m_szWhat[0] == '\0') {
        Open();
        return;
    }
    Search(bReverse ? !m_how.bDown : m_how.bDown);
}

LRESULT CLogFinder::OnFindMessage(LPARAM lParam) {
    const auto* pFind = reinterpret_cast<const FINDREPLACEA*>(lParam);
    if ((pFind->Flags & FR_DIALOGTERM) != 0) {
        m_hDialog = nullptr;
    } else if ((pFind->Flags & FR_FINDNEXT) != 0) {
        m_how.bDown = (pFind->Flags & FR_DOWN) != 0;
        m_how.bMatchCase = (pFind->Flags & FR_MATCHCASE) != 0;
        m_how.bWholeWord = (pFind->Flags & FR_WHOLEWORD) != 0;
        Search(m_how.bDown);
    }
    return 0;
}

bool CLogFinder::PreTranslateMessage(MSG* pMsg) {
    return m_hDialog != nullptr && ::IsDialogMessageA(m_hDialog, pMsg);
}

void CLogFinder::Search(bool bDown) {
    const CString text = m_pane.GetWindowText();
    CHARRANGE selection{};
    m_pane.SendMessage(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    // Down from the end of the selection (past the match just found), up from its start.
    // Without a selection (every append leaves the caret at the end), from the top down or
    // from the bottom up: the whole pane is searched.
    TextSearch how = m_how;
    how.bDown = bDown;
    long from = bDown ? selection.cpMax : selection.cpMin;
    if (selection.cpMin == selection.cpMax)
        from = bDown ? 0 : static_cast<long>(text.size());
    const auto at = FindInText(text, m_szWhat, from < 0 ? 0 : static_cast<std::size_t>(from), how);
    if (!at) {
        // Owned by the Find dialog while it is open, so that it cannot search again (and stack
        // a second box) until this one is answered.
        ::MessageBoxA(m_hDialog != nullptr ? m_hDialog : m_owner.m_hWnd,
                      FormatString("Cannot find \"%s\"", m_szWhat).c_str(), AfxGetAppName(), MB_OK);
        return;
    }
    const auto start = static_cast<long>(*at);
    m_pane.SetSel(start, start + static_cast<long>(std::string_view(m_szWhat).size()));
    m_pane.SendMessage(EM_SCROLLCARET);
}
