// The one TCP connection to a device: connecting, the receive worker that dumps and decodes
// every received chunk, and returning to the not-connected state when the connection ends.
#include "platform/CString.h"
#include "ui/MainDlg.h"

#include <cstdlib>

namespace {
constexpr int RECEIVE_BUFFER_SIZE = 1024;

// Waits for a thread to end while still handling the messages other threads send to this one
// (the worker sends to the dialog and waits for the answer).
void WaitServingSentMessages(HANDLE hThread, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        // Peeking runs the messages sent to this thread; nothing posted is taken.
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const ULONGLONG now = ::GetTickCount64();
        const DWORD wait = timeoutMs == INFINITE ? INFINITE
                           : now >= deadline     ? 0
                                                 : static_cast<DWORD>(deadline - now);
        const DWORD result = ::MsgWaitForMultipleObjects(1, &hThread, FALSE, wait, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1)
            return; // ended, timed out or failed
    }
}
} // namespace

void CMainDlg::OnConnect() {
    if (m_socket >= 0) {
        // Disconnect: stop sending; the connection ends when the device closes its side.
        ::shutdown(Socket(), SD_SEND);
        return;
    }

    const CString target = m_editTarget.GetWindowText();
    const CString port = m_editPort.GetWindowText();

    m_socket = static_cast<int>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(std::atoi(port.c_str())));
    address.sin_addr.s_addr = ::inet_addr(target.c_str());

    if (::connect(Socket(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(Socket());
        m_socket = -1;
        MessageBox("Connect fail", nullptr, MB_ICONSTOP | MB_OK);
        return;
    }

    ShowConnectedState(true);
    m_btnConnect.SetFocus();
    AppendLog(FormatString("Connected to %s:%s\r\n", target.c_str(), port.c_str()));

    if (!StartReceiveWorker()) {
        // Without a worker nothing would ever be received nor the end of the connection
        // noticed: give the connection up at once.
        ::closesocket(Socket());
        m_socket = -1;
        ShowConnectedState(false);
        AppendLog("Disconnected\r\n");
        MessageBox("Cannot receive from the device: the receive thread could not be started.",
                   nullptr, MB_ICONSTOP | MB_OK);
    }
}

bool CMainDlg::StartReceiveWorker() {
    // The previous connection's worker has at most its last steps left.
    JoinReceiveWorker();
    m_pReceiveThread = AfxBeginThread(&ReceiveThreadProc, this, THREAD_PRIORITY_NORMAL, 0, 0);
    return m_pReceiveThread != nullptr;
}

void CMainDlg::ShowConnectedState(bool bConnected) {
    m_btnConnect.SetWindowText(bConnected ? "Dis&connect" : "&Connect");
    m_btnMultiWrite.EnableWindow(bConnected);
    m_btnMultiRead.EnableWindow(bConnected);
    EnableRowButtons(bConnected);
    m_editTarget.EnableWindow(!bConnected);
    m_editPort.EnableWindow(!bConnected);
}

UINT ReceiveThreadProc(LPVOID pParam) {
    return static_cast<CMainDlg*>(pParam)->ReceiveLoop();
}

UINT CMainDlg::ReceiveLoop() {
    CDioReplyParser parser;
    BYTE buffer[RECEIVE_BUFFER_SIZE];
    int n = ::recv(Socket(), reinterpret_cast<char*>(buffer), RECEIVE_BUFFER_SIZE, 0);
    while (n > 0) {
        LogTraffic(0, buffer, n);
        parser.Feed(buffer, static_cast<std::size_t>(n), *this);
        QueueRowUpdates();
        n = ::recv(Socket(), reinterpret_cast<char*>(buffer), RECEIVE_BUFFER_SIZE, 0);
    }
    // Orderly close and error end the connection alike.
    SendMessage(WM_CONNECTION_CLOSED, 0, 0);
    return 0;
}

LRESULT CMainDlg::OnConnectionClosed(WPARAM, LPARAM) {
    if (m_socket >= 0) {
        ::closesocket(Socket());
        m_socket = -1;
    }
    m_btnConnect.SetWindowText("&Connect");
    m_btnMultiWrite.EnableWindow(FALSE);
    m_btnMultiRead.EnableWindow(FALSE);
    EnableRowButtons(false);
    m_editTarget.EnableWindow(TRUE);
    m_editPort.EnableWindow(TRUE);
    AppendLog("Disconnected\r\n");
    m_btnConnect.EnableWindow(TRUE);
    return 0;
}

void CMainDlg::JoinReceiveWorker() {
    if (m_pReceiveThread == nullptr)
        return;
    WaitServingSentMessages(m_pReceiveThread->m_hThread, INFINITE);
    m_pReceiveThread.reset();
}

void CMainDlg::StopReceiveWorker() {
    if (m_pReceiveThread == nullptr)
        return;
    if (::WaitForSingleObject(m_pReceiveThread->m_hThread, 0) != WAIT_OBJECT_0 && m_socket >= 0) {
        // Wake the worker's recv: shutting both directions down ends it at once where the
        // socket layer allows; closing the socket cancels it everywhere.
        const SOCKET s = Socket();
        ::shutdown(s, SD_BOTH);
        WaitServingSentMessages(m_pReceiveThread->m_hThread, 200);
        if (m_socket >= 0 &&
            ::WaitForSingleObject(m_pReceiveThread->m_hThread, 0) != WAIT_OBJECT_0) {
            m_socket = -1;
            ::closesocket(s);
        }
    }
    JoinReceiveWorker();
}
