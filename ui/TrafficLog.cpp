// The log pane: appends from both threads, the traffic dump, clearing.
//
// Appends go to the receive path's log hand-off, in order, whichever thread makes them; only
// the interface thread writes the pane, when it takes what waits (ApplyReceived). The
// hand-off keeps no more than the pane could show, so a device that talks faster than the
// pane can draw costs no backlog: the pane then shows the newest traffic.
#include "platform/PreciseClock.h"
#include "protocol/TrafficDump.h"
#include "ui/LogCap.h"
#include "ui/MainDlg.h"

void CMainDlg::AppendLog(const CString& text) {
    // The time is read here, at once: right after send returns, for a sent request's dump.
    m_connection.AppendLog(text, m_connection.Timestamps() ? LocalLogTimeNow() : std::string());
    if (OnInterfaceThread())
        ScheduleApply(false);
    else
        m_connection.Signal();
}

void CMainDlg::LogTraffic(BYTE bSent, const BYTE* pData, int nCount) {
    AppendLog(FormatTrafficDump(bSent ? TrafficDirection::Sent : TrafficDirection::Received, pData,
                                nCount));
}

void CMainDlg::FlushLog() {
    ApplyReceived(static_cast<std::size_t>(-1));
}

void CMainDlg::WriteToLogPane(const CString& text, bool bStartAfresh) {
    // Text longer than the cap: only its newest whole lines go in, and everything already in
    // the log, being older than what was dropped, goes out.
    std::size_t from = 0;
    if (text.size() > static_cast<std::size_t>(LOG_CAP_CHARS))
        from = LogTailStart(text, static_cast<std::size_t>(LOG_CAP_CHARS));
    const char* pszNew = text.c_str() + from;
    const long incoming = static_cast<long>(text.size() - from);

    // Drawing is held back while the text changes and done once afterwards: the control would
    // otherwise repaint for each step, which costs more than the change itself.
    m_richLog.SendMessage(WM_SETREDRAW, FALSE);
    const long length = m_richLog.GetTextLength();
    const long trim = from > 0 || bStartAfresh ? length : LogCharsToTrim(length, incoming);
    if (trim >= length) {
        if (length > 0)
            m_richLog.SetWindowText("");
    } else if (trim > 0) {
        // The oldest whole lines go: cut at the first line start at or after trim.
        const long line = m_richLog.LineFromChar(trim);
        long cut = m_richLog.LineIndex(static_cast<int>(line));
        if (cut < trim)
            cut = m_richLog.LineIndex(static_cast<int>(line) + 1);
        if (cut < 0 || cut >= length) {
            m_richLog.SetWindowText("");
        } else {
            m_richLog.SetSel(0, cut);
            m_richLog.ReplaceSel("", FALSE);
        }
    }
    m_richLog.SetSel(-1, -1);
    m_richLog.ReplaceSel(pszNew, FALSE);
    m_richLog.SendMessage(WM_SETREDRAW, TRUE);
    m_richLog.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
}

void CMainDlg::OnClearLog() {
    // Text still on its way was received before the click: it goes too.
    m_connection.ClearLog();
    m_richLog.SetWindowText("");
}
