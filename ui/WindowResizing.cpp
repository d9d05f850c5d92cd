// Following the window's size: the log column takes all extra width; extra height goes to
// the row table on the left and to the log on the right, and the range controls move down.
// Each change moves the controls by the difference since the last layout.
#include "platform/DpiScaling.h"
#include "ui/MainDlg.h"
#include "ui/WindowSizing.h"

namespace {
PixelRect ToPixelRect(const RECT& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}
RECT ToRect(const PixelRect& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}
} // namespace

void CMainDlg::CaptureLayout() {
    RECT client;
    GetClientRect(&client);
    m_nLastClientWidth = client.right - client.left;
    m_nLastClientHeight = client.bottom - client.top;
    RECT window;
    GetWindowRect(&window);
    m_nLastWndWidth = window.right - window.left;
    m_nLastWndHeight = window.bottom - window.top;
    m_nMinHeight = m_nLastWndHeight;
}

void CMainDlg::OnSize(UINT nType, int cx, int cy) {
    Default();
    if (nType == SIZE_MINIMIZED || m_nMinHeight < 0)
        return;
    const int dx = cx - m_nLastClientWidth;
    const int dy = cy - m_nLastClientHeight;

    const struct {
        CWnd* pControl;
        ResizeRule rule;
    } layout[] = {
        {&m_grpReceive, ResizeRule::GrowBoth},   {&m_richLog, ResizeRule::GrowBoth},
        {&m_btnClearLog, ResizeRule::MoveBoth},  {&m_grpSingle, ResizeRule::GrowHeight},
        {&m_panelRows, ResizeRule::GrowHeight},  {&m_scrollRows, ResizeRule::GrowHeight},
        {&m_grpMulti, ResizeRule::MoveDown},     {&m_lblStartDio, ResizeRule::MoveDown},
        {&m_lblEndDio, ResizeRule::MoveDown},    {&m_cbStartDio, ResizeRule::MoveDown},
        {&m_cbEndDio, ResizeRule::MoveDown},     {&m_btnMultiWrite, ResizeRule::MoveDown},
        {&m_btnMultiRead, ResizeRule::MoveDown},
    };
    for (const auto& item : layout) {
        RECT rect;
        item.pControl->GetWindowRect(&rect);
        CWnd::ScreenToClient(&rect);
        item.pControl->MoveWindow(ToRect(ApplyResizeRule(item.rule, ToPixelRect(rect), dx, dy)),
                                  FALSE);
    }

    m_nLastClientWidth = cx;
    m_nLastClientHeight = cy;
    RECT window;
    GetWindowRect(&window);
    m_nLastWndWidth = window.right - window.left;
    m_nLastWndHeight = window.bottom - window.top;

    UpdateRowScroll();
    // One repaint of everything, the children's children included: the edit fields inside
    // the range boxes are not redrawn otherwise and would show blank after a move.
    RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void CMainDlg::OnSizing(UINT fwSide, LPRECT pRect) {
    Default();
    if (m_nMinHeight < 0)
        return;
    RECT logRect;
    m_richLog.GetWindowRect(&logRect);
    PixelRect proposed = ToPixelRect(*pRect);
    ClampSizingRect(static_cast<int>(fwSide), proposed, m_nLastWndWidth, m_nLastWndHeight,
                    m_nMinHeight, logRect.right - logRect.left, ScaleFrom96Dpi(MIN_LOG_WIDTH));
    *pRect = ToRect(proposed);
}
