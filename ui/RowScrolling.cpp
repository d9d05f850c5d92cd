// Scrolling the row panel: the rows are moved as the panel's children by whole pixels, and
// m_nScrollPos remembers how far; the scroll bar beside the panel drives it.
#include "platform/DpiScaling.h"
#include "ui/MainDlg.h"
#include "ui/RowScroll.h"

RowFigures CMainDlg::ScaledRowFigures() {
    return {ScaleFrom96Dpi(ROW_PITCH), ScaleFrom96Dpi(ROW_FIRST_TOP),
            ScaleFrom96Dpi(ROW_LINE_STEP)};
}

void CMainDlg::MoveRows(int nDelta) {
    if (nDelta == 0)
        return;
    RECT client;
    m_panelRows.GetClientRect(&client);
    // No scroll rectangle, so every child window moves with the content.
    m_panelRows.ScrollWindow(0, nDelta, nullptr, &client);
}

void CMainDlg::UpdateRowScroll() {
    RECT client;
    m_panelRows.GetClientRect(&client);
    const int page = client.bottom - client.top;

    m_scrollRows.EnableScrollBar(ESB_ENABLE_BOTH);
    SCROLLINFO info{};
    m_scrollRows.GetScrollInfo(&info, SIF_ALL);

    const RowScrollLayout layout =
        ComputeRowScroll(m_nDioCount, page, info.nPos, ScaledRowFigures());
    info.fMask = SIF_ALL;
    info.nMin = layout.bar.nMin;
    info.nMax = layout.bar.nMax;
    info.nPage = static_cast<UINT>(layout.bar.nPage);
    info.nPos = layout.bar.nPos;
    if (layout.fits)
        info.nTrackPos = 0;
    m_scrollRows.SetScrollInfo(&info, TRUE);

    MoveRows(m_nScrollPos - layout.bar.nPos);
    m_nScrollPos = layout.bar.nPos;
    if (layout.fits)
        m_scrollRows.EnableScrollBar(ESB_DISABLE_BOTH);
}

void CMainDlg::OnVScroll(UINT nSBCode, UINT nPos, HWND hScrollBar) {
    if (hScrollBar != nullptr && hScrollBar == m_scrollRows.m_hWnd) {
        SCROLLINFO info{};
        m_scrollRows.GetScrollInfo(&info, SIF_ALL);
        const ScrollBarState bar{info.nMin, info.nMax, static_cast<int>(info.nPage), info.nPos};
        const int newPos = ComputeScrollPosition(static_cast<int>(nSBCode), static_cast<int>(nPos),
                                                 bar, ScaledRowFigures().lineStep);
        m_scrollRows.SetScrollPos(newPos, TRUE);
        MoveRows(m_nScrollPos - newPos);
        m_nScrollPos = newPos;
    }
    CDialog::OnVScroll(nSBCode, nPos, hScrollBar);
}
