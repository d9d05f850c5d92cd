// The log pane: appends from both threads, the traffic dump, clearing.
//
// Appends go into a queue under the log lock and reach the control on the interface thread
// only, in one replacement for everything waiting. So the lock is never held while a thread
// waits for the other, appends stay whole and in order, and a burst of received chunks costs
// one control update instead of one per chunk. When much text waits, the worker waits for the
// pane to take it, which slows the device down through TCP instead of queueing without bound.
#include "ui/LogCap.h"
#include "ui/MainDlg.h"
#include "ui/TrafficDump.h"

void CMainDlg::AppendLog(const CString& text) {
    bool bPost = false;
    bool bWait = false;
    {
        CSingleLock lock(*m_pLogLock);
        m_strPendingLog += text;
        if (!OnInterfaceThread()) {
            bWait = m_strPendingLog.size() >= LOG_PENDING_LIMIT;
            bPost = !bWait && !m_bLogFlushPosted;
            if (bPost)
                m_bLogFlushPosted = true;
        }
    }
    if (OnInterfaceThread()) {
        FlushLog();
    } else if (bWait) {
        SendMessage(WM_LOG_FLUSH);
    } else if (bPost && !PostMessage(WM_LOG_FLUSH)) {
        // The queue is full; the next append tries again.
        CSingleLock lock(*m_pLogLock);
        m_bLogFlushPosted = false;
    }
}

void CMainDlg::LogTraffic(BYTE bSent, const BYTE* pData, int nCount) {
    AppendLog(FormatTrafficDump(bSent ? TrafficDirection::Sent : TrafficDirection::Received, pData,
                                nCount));
}

LRESULT CMainDlg::OnLogFlush(WPARAM, LPARAM) {
    FlushLog();
    return 0;
}

void CMainDlg::FlushLog() {
    CString text;
    {
        CSingleLock lock(*m_pLogLock);
        text.swap(m_strPendingLog);
        m_bLogFlushPosted = false;
    }
    if (!text.empty())
        WriteToLogPane(text);
}

void CMainDlg::WriteToLogPane(const CString& text) {
    std::string_view newText(text);
    long logLength = m_richLog.GetTextLength();
    if (newText.size() > static_cast<std::size_t>(LOG_TRIM_TO_CHARS)) {
        // More new text than the log keeps: only its newest lines go in, after all of the
        // older text.
        newText.remove_prefix(LogTailStart(newText, LOG_TRIM_TO_CHARS));
    }
    const long trim = LogCharsToTrim(logLength, static_cast<long>(newText.size()));
    if (trim >= logLength) {
        if (logLength > 0)
            m_richLog.SetWindowText("");
    } else if (trim > 0) {
        // Cut at the first line start at or after trim characters.
        const long line = m_richLog.LineFromChar(trim);
        long cut = m_richLog.LineIndex(static_cast<int>(line));
        if (cut < trim)
            cut = m_richLog.LineIndex(static_cast<int>(line) + 1);
        if (cut < 0 || cut >= logLength) {
            m_richLog.SetWindowText("");
        } else {
            m_richLog.SetSel(0, cut);
            m_richLog.ReplaceSel("", FALSE);
        }
    }
    m_richLog.SetSel(-1, -1);
    if (newText.size() == text.size()) {
        m_richLog.ReplaceSel(text.c_str(), FALSE);
    } else {
        const CString tail(newText);
        m_richLog.ReplaceSel(tail.c_str(), FALSE);
    }
}

void CMainDlg::OnClearLog() {
    m_richLog.SetWindowText("");
}
