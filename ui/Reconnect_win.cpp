// The dialog's side of reconnecting: Device > Reconnect Automatically, and the attempts after
// a connection the device dropped. An attempt never blocks the window: it connects without
// waiting (CDeviceConnection::BeginOpen) and its outcome arrives as a message. Failures go to
// the log only; the operator may be away.
#include "connection/PortNumber.h"
#include "platform/CString.h"
#include "platform/SystemErrorText.h"
#include "res/resource.h"
#include "ui/MainDlg.h"
#include "ui/Reconnect.h"

void CMainDlg::OnDeviceReconnect() {
    m_bAutoReconnect = !m_bAutoReconnect;
    ::CheckMenuItem(GetMenu(), ID_DEVICE_RECONNECT,
                    MF_BYCOMMAND | (m_bAutoReconnect ? MF_CHECKED : MF_UNCHECKED));
    if (!m_bAutoReconnect && Reconnecting())
        StopReconnecting(true);
}

void CMainDlg::ReconnectIfDropped(bool bDropped) {
    if (!bDropped || !m_bAutoReconnect)
        return;
    m_bReconnecting = true;
    m_nReconnectFailures = 0;
    ShowReconnectingState();
    AppendLog(FormatString("Reconnecting to %s:%s...\r\n", m_strTarget.c_str(), m_strPort.c_str()));
    ScheduleReconnect();
}

void CMainDlg::ScheduleReconnect() {
    const auto delay = ReconnectDelay(m_nReconnectFailures);
    if (::SetTimer(m_hWnd, RECONNECT_TIMER, static_cast<UINT>(delay.count()), nullptr) == 0)
        StopReconnecting(true);
}

void CMainDlg::OnReconnectTimer() {
    ::KillTimer(m_hWnd, RECONNECT_TIMER);
    if (!Reconnecting())
        return;
    int nError = 0;
    if (!m_connection.BeginOpen(m_strTarget.c_str(), ParsePortNumber(m_strPort), m_hWnd,
                                WM_RECONNECT_RESULT, nError)) {
        OnReconnectFailed(SystemErrorText(static_cast<DWORD>(nError)));
        return;
    }
    ::SetTimer(m_hWnd, ATTEMPT_TIMER, static_cast<UINT>(RECONNECT_ATTEMPT_WAIT.count()), nullptr);
}

LRESULT CMainDlg::OnReconnectResult(WPARAM wParam, LPARAM lParam) {
    int nError = WSAGETSELECTERROR(lParam);
    if (!Reconnecting() || !m_connection.FinishOpen(wParam, nError))
        return 0;
    ::KillTimer(m_hWnd, ATTEMPT_TIMER);
    if (!m_connection.IsOpen()) {
        OnReconnectFailed(SystemErrorText(static_cast<DWORD>(nError)));
        return 0;
    }
    m_bReconnecting = false;
    ShowConnectedState(true);
    if (!ConnectionMade(m_strTarget, m_strPort)) {
        // Given up again at once (and logged so): try again later.
        m_bReconnecting = true;
        ShowReconnectingState();
        OnReconnectFailed("the receive thread could not be started");
    }
    return 0;
}

void CMainDlg::OnReconnectFailed(const std::string& reason) {
    ::KillTimer(m_hWnd, ATTEMPT_TIMER);
    m_connection.CancelOpen();
    if (!Reconnecting())
        return;
    AppendLog(ReconnectFailedLine(reason));
    ++m_nReconnectFailures;
    ScheduleReconnect();
}

void CMainDlg::StopReconnecting(bool bLog) {
    ::KillTimer(m_hWnd, RECONNECT_TIMER);
    ::KillTimer(m_hWnd, ATTEMPT_TIMER);
    m_connection.CancelOpen();
    if (!Reconnecting())
        return;
    m_bReconnecting = false;
    ShowConnectedState(false);
    if (bLog)
        AppendLog("Reconnecting stopped\r\n");
}
