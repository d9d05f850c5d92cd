// The log pane: appends from both threads, the traffic dump, clearing.
//
// Appends go into a queue under the log lock and reach the control on the interface thread
// only, in one replacement for everything waiting. So the lock is never held while a thread
// waits for the other, and appends stay whole and in order.
//
// The queue is moved into the pane a moment after text starts waiting (a timer, which yields
// to every other message), so row updates and the operator's clicks are never held up behind
// the log, and a burst of traffic costs one control update instead of one per append. When
// much text waits, the receive worker has it moved at once and waits for that, which slows the
// device down through TCP instead of letting the queue grow without bound.
#include "ui/LogCap.h"
#include "ui/MainDlg.h"
#include "protocol/TrafficDump.h"

namespace {
constexpr UINT_PTR LOG_FLUSH_TIMER = 1;
constexpr UINT LOG_FLUSH_DELAY_MS = 15;
} // namespace

void CMainDlg::AppendLog(const CString& text) {
    const bool bWorker = !OnInterfaceThread();
    bool bSchedule = false;
    bool bFlushNow = false;
    {
        CSingleLock lock(*m_pLogLock);
        m_strPendingLog += text;
        bFlushNow = bWorker && m_strPendingLog.size() >= LOG_PENDING_LIMIT;
        bSchedule = !bFlushNow && !m_bLogFlushScheduled;
        if (bSchedule)
            m_bLogFlushScheduled = true;
    }
    if (bFlushNow) {
        SendMessage(WM_LOG_FLUSH);
    } else if (bSchedule) {
        if (!bWorker) {
            ScheduleLogFlush();
        } else if (!PostMessage(WM_LOG_SCHEDULE)) {
            // The queue is full; the next append tries again.
            CSingleLock lock(*m_pLogLock);
            m_bLogFlushScheduled = false;
        }
    }
}

void CMainDlg::LogTraffic(BYTE bSent, const BYTE* pData, int nCount) {
    AppendLog(FormatTrafficDump(bSent ? TrafficDirection::Sent : TrafficDirection::Received, pData,
                                nCount));
}

void CMainDlg::ScheduleLogFlush() {
    if (::SetTimer(m_hWnd, LOG_FLUSH_TIMER, LOG_FLUSH_DELAY_MS, nullptr) == 0)
        FlushLog();
}

LRESULT CMainDlg::OnLogSchedule(WPARAM, LPARAM) {
    ScheduleLogFlush();
    return 0;
}

void CMainDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == LOG_FLUSH_TIMER)
        FlushLog();
    else
        Default();
}

LRESULT CMainDlg::OnLogFlush(WPARAM, LPARAM) {
    FlushLog();
    return 0;
}

void CMainDlg::FlushLog() {
    ::KillTimer(m_hWnd, LOG_FLUSH_TIMER);
    CString text;
    {
        CSingleLock lock(*m_pLogLock);
        text.swap(m_strPendingLog);
        m_bLogFlushScheduled = false;
    }
    if (!text.empty())
        WriteToLogPane(text);
}

void CMainDlg::WriteToLogPane(const CString& text) {
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
    const long trim = from > 0 ? length : LogCharsToTrim(length, incoming);
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
    m_richLog.SetWindowText("");
}
