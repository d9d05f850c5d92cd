// The log pane: appends from both threads, the traffic dump, the pane's cap, the session
// capture, Save Log As, the context menu and clearing; and the dialog's part of it.
#include "ui/TrafficLog.h"

#include "platform/PreciseClock.h"
#include "protocol/LogTime.h"
#include "platform/SystemErrorText.h"
#include "platform/WholeFile.h"
#include "res/resource.h"
#include "ui/LogCap.h"
#include "ui/MainDlg.h"

#include <chrono>

namespace {
// A save that takes longer than this shows the wait cursor.
constexpr auto SAVE_WAIT_CURSOR_AFTER = std::chrono::milliseconds(500);
} // namespace

TrafficDumpStyle DumpStyleForCodePage(UINT nCodePage) {
    CPINFO info{};
    TrafficDumpStyle style;
    style.bHighBytesAsDots = ::GetCPInfo(nCodePage, &info) && info.MaxCharSize > 1;
    return style;
}

CTrafficLog::CTrafficLog(CDeviceConnection& connection, CRichEditCtrl& pane)
    : m_connection(connection), m_pane(pane) {}

void CTrafficLog::Open(const TrafficDumpStyle& style) {
    // The log is kept under its own cap; the control's limit must never be what cuts new
    // traffic off.
    m_pane.LimitText(LOG_CONTROL_LIMIT);
    SetDumpStyle(style);
    m_connection.SetLogTap(&m_capture);
    m_capture.Start();
    ReportCaptureProblem();
}

void CTrafficLog::SetDumpStyle(const TrafficDumpStyle& style) {
    m_style = style;
    m_connection.SetDumpStyle(style);
}

void CTrafficLog::ReportCaptureProblem() {
    CString problem;
    if (m_capture.TakeNewProblem(problem))
        Append("Saving the whole log is unavailable (" + problem +
               "); Save Log As saves only what the log shows.\r\n");
}

void CTrafficLog::Append(std::string text) {
    // The time is read here, at once: for a dump, right after the bytes crossed the socket.
    m_connection.AppendLog(std::move(text), m_connection.Timestamps()
                                                ? FormatLocalLogTime(PreciseSystemTime())
                                                : std::string());
}

void CTrafficLog::Dump(TrafficDirection direction, const std::uint8_t* pData, int nCount) {
    Append(FormatTrafficDump(direction, pData, nCount, m_style));
}

void CTrafficLog::WriteToPane(const CString& text, bool bStartAfresh) {
    // Text longer than the cap: only its newest whole lines go in, and everything already in
    // the log, being older than what was dropped, goes out.
    std::size_t from = 0;
    if (text.size() > static_cast<std::size_t>(LOG_CAP_CHARS))
        from = LogTailStart(text, static_cast<std::size_t>(LOG_CAP_CHARS));
    const char* pszNew = text.c_str() + from;
    const long incoming = static_cast<long>(text.size() - from);

    // Drawing is held back while the text changes and done once afterwards: the control would
    // otherwise repaint for each step, which costs more than the change itself.
    m_pane.SendMessage(WM_SETREDRAW, FALSE);
    // A selection the operator made, or a match Find selected, outlives the append (an append
    // moves the selection to the end), unless the lines it covers are trimmed away.
    CHARRANGE kept{};
    m_pane.SendMessage(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&kept));
    long removed = 0;
    const long length = m_pane.GetTextLength();
    const long trim = from > 0 || bStartAfresh ? length : LogCharsToTrim(length, incoming);
    if (trim >= length) {
        removed = length;
        if (length > 0)
            m_pane.SetWindowText("");
    } else if (trim > 0) {
        // The oldest whole lines go: cut at the first line start at or after trim.
        const long line = m_pane.LineFromChar(trim);
        long cut = m_pane.LineIndex(static_cast<int>(line));
        if (cut < trim)
            cut = m_pane.LineIndex(static_cast<int>(line) + 1);
        if (cut < 0 || cut >= length) {
            removed = length;
            m_pane.SetWindowText("");
        } else {
            removed = cut;
            m_pane.SetSel(0, cut);
            m_pane.ReplaceSel("", FALSE);
        }
    }
    m_pane.SetSel(-1, -1);
    m_pane.ReplaceSel(pszNew, FALSE);
    if (kept.cpMin < kept.cpMax && kept.cpMin >= removed)
        m_pane.SetSel(kept.cpMin - removed, kept.cpMax - removed);
    m_pane.SendMessage(WM_SETREDRAW, TRUE);
    m_pane.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    // A capture that failed on the way is reported here, on the interface thread.
    ReportCaptureProblem();
}

void CTrafficLog::Clear() {
    // Text still on its way was received before the click: it goes too, and so does the
    // capture, which starts again with the next append.
    m_connection.ClearLog();
    m_pane.SetWindowText("");
    ReportCaptureProblem();
}

UINT CTrafficLog::TrackContextMenu(HWND hOwner, POINT point) {
    if (point.x == -1 && point.y == -1) {
        RECT rect;
        m_pane.GetWindowRect(&rect);
        point = {rect.left + 8, rect.top + 8};
    }
    CHARRANGE selection{};
    m_pane.SendMessage(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    HMENU hMenu = ::CreatePopupMenu();
    if (hMenu == nullptr)
        return 0;
    ::AppendMenuA(hMenu, MF_STRING | (selection.cpMin == selection.cpMax ? MF_GRAYED : 0),
                  ID_LOG_COPY, "&Copy");
    ::AppendMenuA(hMenu, MF_STRING, ID_LOG_SELECT_ALL, "Select &All");
    ::AppendMenuA(hMenu, MF_STRING | (m_connection.Timestamps() ? MF_CHECKED : 0),
                  ID_LOG_TIMESTAMPS, "Show &Timestamps");
    ::AppendMenuA(hMenu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(hMenu, MF_STRING, ID_LOG_SAVE_AS, "&Save Log As...");
    ::AppendMenuA(hMenu, MF_STRING, ID_LOG_CLEAR, "C&lear Log");
    ::AppendMenuA(hMenu, MF_STRING, ID_LOG_FIND, "&Find...");
    const UINT command = static_cast<UINT>(
        ::TrackPopupMenu(hMenu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                         point.x, point.y, 0, hOwner, nullptr));
    ::DestroyMenu(hMenu);
    return command;
}

void CTrafficLog::Copy() {
    m_pane.SendMessage(WM_COPY);
}

void CTrafficLog::SelectAll() {
    m_pane.SetSel(0, -1);
}

CString CTrafficLog::DefaultFileName() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return FormatString("kelvane-%04u%02u%02u-%02u%02u%02u.log", now.wYear, now.wMonth, now.wDay,
                        now.wHour, now.wMinute, now.wSecond);
}

void CTrafficLog::SaveAs(HWND hOwner) {
    SaveFileQuestion question;
    question.pszTitle = "Save Log As";
    question.pszFilter = "Log files (*.log)\0*.log\0All files (*.*)\0*.*\0";
    question.pszDefaultExtension = "log";
    question.defaultName = DefaultFileName();
    CString path;
    if (AskSaveFileName(hOwner, question, path))
        SaveTo(hOwner, path);
}

bool CTrafficLog::SaveTo(HWND hOwner, const CString& path) {
    const auto start = std::chrono::steady_clock::now();
    HCURSOR hRestore = nullptr;
    bool bWaitCursor = false;
    auto progress = [&] {
        if (!bWaitCursor && std::chrono::steady_clock::now() - start > SAVE_WAIT_CURSOR_AFTER) {
            bWaitCursor = true;
            hRestore = ::SetCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))); // IDC_WAIT
        }
    };
    auto fail = [&](DWORD nError) {
        const CString text = FormatString("Cannot save the log to %s.\n\n%s.", path.c_str(),
                                          SystemErrorText(nError).c_str());
        ::MessageBoxA(hOwner, text.c_str(), "Save Log As", MB_ICONSTOP | MB_OK);
        return false;
    };

    // Written whole or not at all: a file that was there stays as it was when the save fails.
    const bool bWhole = m_capture.Complete();
    DWORD nError = 0;
    const bool ok = WriteWholeFile(
        path,
        [&](HANDLE hOut, DWORD& nWriteError) {
            if (bWhole)
                return m_capture.CopyTo(hOut, nWriteError, progress);
            const CString text = m_pane.GetWindowText();
            DWORD written = 0;
            if (::WriteFile(hOut, text.data(), static_cast<DWORD>(text.size()), &written,
                            nullptr) &&
                written == text.size())
                return true;
            nWriteError = ::GetLastError();
            return false;
        },
        nError);
    if (bWaitCursor)
        ::SetCursor(hRestore);
    if (!ok)
        return fail(nError);
    if (!bWhole) {
        const CString text = FormatString(
            "Only what the log shows was saved to %s: the whole session could not be kept (%s).",
            path.c_str(), m_capture.Problem().c_str());
        ::MessageBoxA(hOwner, text.c_str(), "Save Log As", MB_ICONINFORMATION | MB_OK);
    }
    return true;
}

// The dialog's side: the specified calls, forwarded.

void CMainDlg::AppendLog(const CString& text) {
    m_log.Append(text);
    if (OnInterfaceThread())
        ScheduleApply(false);
    else
        m_connection.Signal();
}

void CMainDlg::LogTraffic(BYTE bSent, const BYTE* pData, int nCount) {
    m_log.Dump(bSent ? TrafficDirection::Sent : TrafficDirection::Received, pData, nCount);
    if (OnInterfaceThread())
        ScheduleApply(false);
    else
        m_connection.Signal();
}

void CMainDlg::FlushLog() {
    ApplyReceived(static_cast<std::size_t>(-1));
}

void CMainDlg::OnClearLog() {
    m_log.Clear();
    // A capture that could not start again is reported at once.
    ScheduleApply(false);
}

void CMainDlg::OnSaveLogAs() {
    // What still waits for the pane is part of the session too.
    FlushLog();
    m_log.SaveAs(m_hWnd);
}

void CMainDlg::OnLogCopy() {
    m_log.Copy();
}

void CMainDlg::OnLogSelectAll() {
    m_log.SelectAll();
}

void CMainDlg::OnLogTimestamps() {
    // Lines appended from now on start with the time; earlier ones keep their form.
    m_connection.SetTimestamps(!m_connection.Timestamps());
}

void CMainDlg::OnLogFind() {
    m_finder.Open();
}

void CMainDlg::OnLogFindNext() {
    m_finder.FindNext(false);
}

void CMainDlg::OnLogFindPrevious() {
    m_finder.FindNext(true);
}

LRESULT CMainDlg::OnFindMessage(WPARAM, LPARAM lParam) {
    return m_finder.OnFindMessage(lParam);
}

void CMainDlg::OnContextMenu(HWND hWnd, POINT point) {
    if (hWnd != m_richLog.m_hWnd) {
        Default();
        return;
    }
    // Chosen commands go through the message map like the menu bar's.
    if (const UINT command = m_log.TrackContextMenu(m_hWnd, point); command != 0)
        SendMessage(WM_COMMAND, command, 0);
}
