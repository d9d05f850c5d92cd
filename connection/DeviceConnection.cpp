#include "connection/DeviceConnection.h"

#include "platform/CString.h"
#include "platform/PreciseClock.h"
#include "protocol/LogTime.h"
#include "protocol/TrafficDump.h"

#include <chrono>
#include <utility>
#include <vector>

SocketSendFunction g_pfnSocketSend = &::send;

namespace {
// One chunk, as the worker receives it.
constexpr int RECEIVE_BUFFER_SIZE = 1024;
// How long a request may wait for a socket that cannot take more (a device that stopped
// reading) before it is given up, unsent.
constexpr long SEND_WAIT_MS = 200;
// The most device traffic the socket layer may hold unread. Past it the device must wait (TCP
// flow control), so an answer never queues behind more than a few milliseconds of a flood;
// left to itself the layer lets megabytes pile up, seconds of a flood ahead of the answer.
constexpr int RECEIVE_WINDOW = 64 * 1024;
// How long closing the window gives the worker to notice a shut-down socket before the socket
// is closed under it.
constexpr DWORD STOP_GRACE_MS = 200;

// The parser's sink on the worker: the row count and the pending range start come from the
// dialog; every decoded value goes to the rows' hand-off and, a reply frame at a time, to the
// history.
class CWorkerSink final : public CDioReplySink {
public:
    CWorkerSink(CDioReplySink& rows, std::atomic<std::uint64_t>& rangeReplies)
        : m_rows(rows), m_nRangeReplies(rangeReplies) {}
    int GetRowCount() final { return m_rows.GetRowCount(); }
    // Asked for at the first payload byte of a range-read reply, and only there.
    int GetPendingStart() final {
        m_bInRangeReply = true;
        return m_rows.GetPendingStart();
    }
    // Called at the end of every reply frame with a payload. A range reply is counted only
    // now, once the pending start has been cleared: a range command sent after the count
    // has moved on keeps the start it sets.
    void ClearPendingStart() final {
        m_rows.ClearPendingStart();
        m_frame.EndFrame();
        if (m_bInRangeReply) {
            m_bInRangeReply = false;
            m_nRangeReplies.fetch_add(1);
        }
    }
    void SetRowMode(int row, int value) final {
        m_updates.SetMode(row, value);
        m_frame.SetMode(row, value);
    }
    void SetRowState(int row, int value) final {
        m_updates.SetState(row, value);
        m_frame.SetState(row, value);
    }

    CRowUpdateBatch m_updates;
    CDioFrameReports m_frame;

private:
    CDioReplySink& m_rows;
    std::atomic<std::uint64_t>& m_nRangeReplies;
    bool m_bInRangeReply = false;
};

DWORD WaitForThreadOrSentMessage(HANDLE hThread, DWORD nTimeoutMs) {
    return ::MsgWaitForMultipleObjects(1, &hThread, FALSE, nTimeoutMs, QS_SENDMESSAGE);
}

// Runs the messages other threads have sent to this one; nothing posted is taken.
void HandleSentMessages() {
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}
} // namespace

bool WaitServingSentMessages(HANDLE hThread, const std::atomic<bool>& finished, DWORD timeoutMs,
                             WorkerWaitFunction wait) {
    if (wait == nullptr)
        wait = &WaitForThreadOrSentMessage;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto left = [&]() -> DWORD {
        if (timeoutMs == INFINITE)
            return INFINITE;
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return ms <= 0 ? 0 : static_cast<DWORD>(ms);
    };
    bool bWaitWorks = true;
    for (;;) {
        HandleSentMessages();
        if (bWaitWorks) {
            const DWORD result = wait(hThread, left());
            if (result == WAIT_OBJECT_0)
                return true;
            if (result == WAIT_TIMEOUT)
                return false;
            if (result == WAIT_OBJECT_0 + 1)
                continue; // a message was sent to this thread
            // The handle cannot be waited on: from here on the thread's own word counts.
            bWaitWorks = false;
        }
        if (finished.load())
            return true;
        if (left() == 0)
            return false;
        ::Sleep(1);
    }
}

CDeviceConnection::CDeviceConnection(CDioReplySink& rows, CDioHistory& history,
                                     std::size_t logKeepChars)
    : m_rows(rows), m_history(history), m_log(logKeepChars) {}

CDeviceConnection::~CDeviceConnection() {
    CancelOpen();
    Stop();
}

void CDeviceConnection::SetNotifyWindow(HWND hWnd, UINT nReceived, UINT nClosed) {
    m_hNotify = hWnd;
    m_nReceivedMsg = nReceived;
    m_nClosedMsg = nClosed;
}

bool CDeviceConnection::Open(const char* pszAddress, std::uint16_t port) {
    m_socket = static_cast<int>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    // Set before connecting, so the window offered to the device is bounded from the start.
    ::setsockopt(Socket(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&RECEIVE_WINDOW),
                 sizeof RECEIVE_WINDOW);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::inet_addr(pszAddress);
    if (::connect(Socket(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(Socket());
        m_socket = -1;
        return false;
    }
    m_bEndAsked = false;
    m_history.RecordConnected(ToDioTime(PreciseSystemTime()),
                              FormatString("%s:%u", pszAddress, static_cast<unsigned>(port)));
    return true;
}

bool CDeviceConnection::BeginOpen(const char* pszAddress, std::uint16_t port, HWND hWnd, UINT nMsg,
                                  int& nError) {
    CancelOpen();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        nError = ::WSAGetLastError();
        return false;
    }
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&RECEIVE_WINDOW),
                 sizeof RECEIVE_WINDOW);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::inet_addr(pszAddress);
    // The socket is non-blocking from here until FinishOpen.
    if (::WSAAsyncSelect(s, hWnd, nMsg, FD_CONNECT) != 0) {
        nError = ::WSAGetLastError();
        ::closesocket(s);
        return false;
    }
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        nError = ::WSAGetLastError();
        if (nError != WSAEWOULDBLOCK) {
            ::closesocket(s);
            return false;
        }
    } else {
        // Connected at once: told the same way, in case the socket layer does not.
        ::PostMessageA(hWnd, nMsg, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(FD_CONNECT, 0));
    }
    nError = 0;
    m_attempt = s;
    m_hAttemptWnd = hWnd;
    m_nAttemptMsg = nMsg;
    m_strAttemptPeer = FormatString("%s:%u", pszAddress, static_cast<unsigned>(port));
    return true;
}

bool CDeviceConnection::FinishOpen(WPARAM socket, int& nError) {
    if (m_attempt == INVALID_SOCKET || static_cast<SOCKET>(socket) != m_attempt)
        return false;
    const SOCKET s = m_attempt;
    m_attempt = INVALID_SOCKET;
    if (nError != 0) {
        ::closesocket(s);
        return true;
    }
    // No more messages, and blocking again for the receive worker and the sends.
    u_long blocking = 0;
    if (::WSAAsyncSelect(s, m_hAttemptWnd, 0, 0) != 0 ||
        ::ioctlsocket(s, FIONBIO, &blocking) != 0) {
        nError = ::WSAGetLastError();
        ::closesocket(s);
        return true;
    }
    m_socket = static_cast<int>(s);
    m_bEndAsked = false;
    m_history.RecordConnected(ToDioTime(PreciseSystemTime()), m_strAttemptPeer);
    return true;
}

void CDeviceConnection::CancelOpen() {
    if (m_attempt == INVALID_SOCKET)
        return;
    ::closesocket(m_attempt);
    // Its outcome may have been posted already.
    MSG msg;
    while (::PeekMessageA(&msg, m_hAttemptWnd, m_nAttemptMsg, m_nAttemptMsg, PM_REMOVE)) {
    }
    m_attempt = INVALID_SOCKET;
}

bool CDeviceConnection::StartWorker() {
    // The previous connection's worker has at most its last steps left.
    if (m_pWorker != nullptr) {
        WaitServingSentMessages(m_pWorker->m_hThread, m_bWorkerDone, INFINITE);
        m_pWorker.reset();
    }
    m_bWorkerDone = false;
    m_pWorker = AfxBeginThread(&ReceiveThreadProc, this, THREAD_PRIORITY_NORMAL, 0, 0);
    return m_pWorker != nullptr;
}

bool CDeviceConnection::WaitForRoom() const {
    // A request is a few bytes: a socket that reports room takes it whole without blocking.
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(Socket(), &writable);
    timeval wait{0, SEND_WAIT_MS * 1000};
    return ::select(0, nullptr, &writable, nullptr, &wait) == 1;
}

int CDeviceConnection::SendAndLog(const std::uint8_t* pData, std::size_t nLength) {
    // Waited for without the lock: the worker never waits for a device that stopped reading.
    const bool bRoom = WaitForRoom();
    // The worker appends under the same lock, so a reply that arrives while send is still
    // returning waits for the request's dump.
    CSingleLock lock(m_lock);
    const int sent = bRoom ? g_pfnSocketSend(Socket(), reinterpret_cast<const char*>(pData),
                                             static_cast<int>(nLength), 0)
                           : -1;
    // The time is read as soon as send returns.
    const std::string stamp =
        m_bTimestamps ? FormatLocalLogTime(PreciseSystemTime()) : std::string();
    AppendLocked(FormatTrafficDump(TrafficDirection::Sent, pData, sent, m_dumpStyle), stamp);
    return sent;
}

void CDeviceConnection::ShutdownSend() {
    m_bEndAsked = true;
    ::shutdown(Socket(), SD_SEND);
}

void CDeviceConnection::Close(bool bRecordEnd) {
    if (m_socket >= 0 && bRecordEnd)
        m_history.RecordEnded(ToDioTime(PreciseSystemTime()), ConnectionEventKind::Disconnected);
    if (m_socket >= 0) {
        ::closesocket(Socket());
        m_socket = -1;
    }
}

void CDeviceConnection::Stop() {
    if (m_pWorker == nullptr)
        return;
    HANDLE hWorker = m_pWorker->m_hThread;
    if (m_socket >= 0 && !m_bWorkerDone) {
        // Wake the worker's recv: shutting both directions down ends it at once where the
        // socket layer allows; closing the socket cancels it everywhere.
        const SOCKET s = Socket();
        m_bEndAsked = true;
        ::shutdown(s, SD_BOTH);
        if (!WaitServingSentMessages(hWorker, m_bWorkerDone, STOP_GRACE_MS) && m_socket >= 0) {
            m_socket = -1;
            ::closesocket(s);
        }
    }
    WaitServingSentMessages(hWorker, m_bWorkerDone, INFINITE);
    m_pWorker.reset();
}

void CDeviceConnection::AppendLog(std::string text, std::string_view linePrefix) {
    CSingleLock lock(m_lock);
    AppendLocked(std::move(text), linePrefix);
}

void CDeviceConnection::AppendLocked(std::string text, std::string_view linePrefix) {
    text = m_log.StartLines(std::move(text), linePrefix);
    if (m_pTap != nullptr && !text.empty())
        m_pTap->OnLogAppend(text);
    m_log.Append(std::move(text));
}

void CDeviceConnection::Signal() {
    if (!m_bSignalled.exchange(true) && !::PostMessageA(m_hNotify, m_nReceivedMsg, 0, 0))
        m_bSignalled = false; // the queue is full: the next chunk tries again
}

bool CDeviceConnection::TakeReceived(std::string& text, std::size_t maxChars,
                                     CRowUpdateBatch& rows) {
    // Cleared first: whatever arrives from now on is signalled again.
    m_bSignalled = false;
    CSingleLock lock(m_lock);
    m_rowUpdates.MoveInto(rows);
    return m_log.Take(text, maxChars);
}

void CDeviceConnection::TakeRowUpdates(CRowUpdateBatch& rows) {
    m_bSignalled = false;
    CSingleLock lock(m_lock);
    m_rowUpdates.MoveInto(rows);
}

bool CDeviceConnection::HasReceived() const {
    CSingleLock lock(m_lock);
    return !m_log.Empty() || !m_rowUpdates.Empty();
}

void CDeviceConnection::ClearLog() {
    CSingleLock lock(m_lock);
    m_log.Clear();
    if (m_pTap != nullptr)
        m_pTap->OnLogClear();
}

UINT ReceiveThreadProc(LPVOID pParam) {
    return static_cast<CDeviceConnection*>(pParam)->ReceiveLoop();
}

UINT CDeviceConnection::ReceiveLoop() {
    CDioReplyParser parser;
    CWorkerSink sink(m_rows, m_nRangeReplies);
    std::vector<DioReport>& reports = sink.m_frame.Reports();
    BYTE buffer[RECEIVE_BUFFER_SIZE];
    std::string dump;
    std::string stamp;
    int n = ::recv(Socket(), reinterpret_cast<char*>(buffer), RECEIVE_BUFFER_SIZE, 0);
    // One reading of the clock per chunk, as soon as recv returns: the log's time and the
    // history's.
    auto now = ToDioTime(PreciseSystemTime());
    while (n > 0) {
        stamp = m_bTimestamps ? FormatLocalLogTime(now) : std::string();
        dump.clear();
        AppendTrafficDump(dump, TrafficDirection::Received, buffer, n, m_dumpStyle);
        parser.Feed(buffer, static_cast<std::size_t>(n), sink);
        // Replies whose frame ended in this chunk.
        m_history.RecordReports(now, reports.data(), reports.size());
        reports.clear();
        {
            // The chunk's dump and its row updates are handed over together.
            CSingleLock lock(m_lock);
            AppendLocked(std::move(dump), stamp);
            sink.m_updates.MoveInto(m_rowUpdates);
        }
        Signal();
        n = ::recv(Socket(), reinterpret_cast<char*>(buffer), RECEIVE_BUFFER_SIZE, 0);
        now = ToDioTime(PreciseSystemTime());
    }
    // A frame the end cut short has set rows already: the history keeps what they show.
    sink.m_frame.EndFrame();
    m_history.RecordReports(now, reports.data(), reports.size());
    m_history.RecordEnded(now, n < 0                ? ConnectionEventKind::Reset
                               : m_bEndAsked.load() ? ConnectionEventKind::Disconnected
                                                    : ConnectionEventKind::ClosedByDevice);
    // Orderly close and error end the connection alike for the window. It handles the end
    // while this thread waits; it takes what still waits first.
    ::SendMessageA(m_hNotify, m_nClosedMsg, 0, 0);
    m_bWorkerDone = true;
    return 0;
}
