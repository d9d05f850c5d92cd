// The dialog's side of the device connection: connecting and disconnecting, the controls of
// each state, the end of a connection, and taking in what the receive path hands over.
#include "connection/PortNumber.h"
#include "platform/CString.h"
#include "platform/SystemErrorText.h"
#include "ui/LogCap.h"
#include "ui/MainDlg.h"

namespace {
// Applies of received text and rows are at least this far apart, and at least as far apart
// as the last one took: the interface thread spends at most half its time on them, and input
// and painting always get through in between.
constexpr auto APPLY_MIN_GAP = std::chrono::milliseconds(10);
// Row updates on their own (a few selections) may be applied between two full applies, but
// not more often than this: each one re-arms the receive path's signal, and a stream of
// posted signals would keep input waiting.
constexpr auto ROW_APPLY_MIN_GAP = std::chrono::milliseconds(5);
} // namespace

void CMainDlg::OnConnect() {
    if (Reconnecting()) {
        StopReconnecting(true);
        return;
    }
    if (m_connection.IsOpen()) {
        // Disconnect: stop sending; the connection ends when the device closes its side.
        StopPolling();
        m_connection.ShutdownSend();
        return;
    }

    const CString target = m_editTarget.GetWindowText();
    const CString port = m_editPort.GetWindowText();
    if (!m_connection.Open(target.c_str(), ParsePortNumber(port))) {
        MessageBox("Connect fail", nullptr, MB_ICONSTOP | MB_OK);
        return;
    }

    ShowConnectedState(true);
    m_btnConnect.SetFocus();
    if (!ConnectionMade(target, port))
        MessageBox("Cannot receive from the device: the receive thread could not be started.",
                   nullptr, MB_ICONSTOP | MB_OK);
}

bool CMainDlg::ConnectionMade(const std::string& target, const std::string& port) {
    AppendLog(FormatString("Connected to %s:%s\r\n", target.c_str(), port.c_str()));
    if (!StartReceiveWorker()) {
        // Without a worker nothing would ever be received nor the end of the connection
        // noticed: give the connection up at once.
        m_connection.Close(true);
        ShowConnectedState(false);
        AppendLog("Disconnected\r\n");
        return false;
    }
    m_strTarget = target;
    m_strPort = port;
    StartPolling();
    return true;
}

bool CMainDlg::StartReceiveWorker() {
    return m_connection.StartWorker();
}

void CMainDlg::ShowConnectedState(bool bConnected) {
    m_btnConnect.SetWindowText(bConnected ? "Dis&connect" : "&Connect");
    m_btnConnect.EnableWindow(TRUE);
    m_btnMultiWrite.EnableWindow(bConnected);
    m_btnMultiRead.EnableWindow(bConnected);
    EnableRowButtons(bConnected);
    m_editTarget.EnableWindow(!bConnected);
    m_editPort.EnableWindow(!bConnected);
}

void CMainDlg::ShowReconnectingState() {
    ShowConnectedState(false);
    m_btnConnect.SetWindowText("Dis&connect");
    // The address and port being tried again stay as they are.
    m_editTarget.EnableWindow(FALSE);
    m_editPort.EnableWindow(FALSE);
}

LRESULT CMainDlg::OnConnectionClosed(WPARAM, LPARAM) {
    const bool bDropped = !m_connection.EndWasAsked();
    m_connection.Close();
    StopPolling();
    ShowConnectedState(false);
    // After every received dump, which all wait in the hand-off already.
    AppendLog("Disconnected\r\n");
    ReconnectIfDropped(bDropped);
    return 0;
}

LRESULT CMainDlg::OnConnectionReceived(WPARAM, LPARAM) {
    UpdatePollGate();
    ScheduleApply(true);
    return 0;
}

void CMainDlg::ScheduleApply(bool bMayApplyNow) {
    const auto now = std::chrono::steady_clock::now();
    if (bMayApplyNow && !m_bApplyTimer && now >= m_nextApply) {
        ApplyReceived(LOG_APPLY_MAX_CHARS);
        return;
    }
    // Too soon for the log: a device's answer still reaches its row at once.
    if (bMayApplyNow && now >= m_nextRowApply) {
        CRowUpdateBatch rows;
        m_connection.TakeRowUpdates(rows);
        if (!rows.Empty()) {
            ApplyRowUpdates(rows);
            m_nextRowApply = now + ROW_APPLY_MIN_GAP;
        }
    }
    if (m_bApplyTimer)
        return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        std::max<std::chrono::steady_clock::duration>(m_nextApply - now, {}));
    if (::SetTimer(m_hWnd, APPLY_TIMER, static_cast<UINT>(wait.count()), nullptr) != 0)
        m_bApplyTimer = true;
    else
        ApplyReceived(LOG_APPLY_MAX_CHARS);
}

void CMainDlg::OnTimer(UINT_PTR nIDEvent) {
    switch (nIDEvent) {
    case APPLY_TIMER:
        ApplyReceived(LOG_APPLY_MAX_CHARS);
        break;
    case POLL_TIMER:
        OnPollTick();
        break;
    case RANGE_HOLD_TIMER:
        UpdatePollGate();
        break;
    case RECONNECT_TIMER:
        OnReconnectTimer();
        break;
    case ATTEMPT_TIMER:
        // No answer from the device in time.
        OnReconnectFailed(SystemErrorText(WSAETIMEDOUT));
        break;
    default:
        Default();
    }
}

void CMainDlg::ApplyReceived(std::size_t maxChars) {
    UpdatePollGate();
    if (m_bApplyTimer) {
        ::KillTimer(m_hWnd, APPLY_TIMER);
        m_bApplyTimer = false;
    }
    const auto start = std::chrono::steady_clock::now();
    CRowUpdateBatch rows;
    std::string text;
    const bool bGap = m_connection.TakeReceived(text, maxChars, rows);
    // The rows first: the cheap part, and what the operator waits for.
    ApplyRowUpdates(rows);
    if (!text.empty() || bGap)
        m_log.WriteToPane(text, bGap);
    const auto end = std::chrono::steady_clock::now();
    m_nextApply = end + std::max<std::chrono::steady_clock::duration>(APPLY_MIN_GAP, end - start);
    // What a paced apply left waits for the next one; the worker signals only what is new.
    if (m_connection.HasReceived())
        ScheduleApply(true);
}
