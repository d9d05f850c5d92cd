// The receive path: the one TCP connection to a device, the worker that receives on it, the
// reply parser, and what the worker hands to the interface thread (log text and row updates).
//
// The worker reads and decodes as fast as the device sends and never waits for the interface
// thread until the connection has ended. What it produces waits here, bounded: the newest log
// text the pane could show and the newest state of each row. It tells the dialog's window with
// one posted message at a time, and the dialog takes what waits at a pace it can afford
// (TakeReceived), so the hand-off never crowds out the operator's input. It touches no window
// but by posting or sending to that handle.
#pragma once

#include "connection/DioHistory.h"
#include "connection/LogHandOff.h"
#include "connection/RowUpdateBatch.h"
#include "platform/CriticalSection.h"
#include "platform/WorkerThread.h"
#include "protocol/DioReplyParser.h"
#include "protocol/TrafficDump.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CDeviceConnection {
public:
    // rows answers the row count and the pending range start for the worker's parser, on the
    // worker's thread (both are atomic integers there); the row updates it decodes are handed
    // over instead of being applied. Every decoded reply is also recorded in history, with the
    // connection's own events. logKeepChars: the most text the log pane could show.
    CDeviceConnection(CDioReplySink& rows, CDioHistory& history, std::size_t logKeepChars);
    // The worker must have been stopped (Stop) before.
    ~CDeviceConnection();
    CDeviceConnection(const CDeviceConnection&) = delete;
    CDeviceConnection& operator=(const CDeviceConnection&) = delete;

    // The window told about what the worker produced: nReceived is posted (never more than one
    // waiting at a time), nClosed is sent once the connection has ended, and the worker waits
    // for it to be handled.
    void SetNotifyWindow(HWND hWnd, UINT nReceived, UINT nClosed);
    // Before the worker starts: every log append also goes to tap (null: none), and dumps
    // are made in this style.
    void SetLogTap(ILogTap* pTap) { m_pTap = pTap; }
    void SetDumpStyle(const TrafficDumpStyle& style) { m_dumpStyle = style; }

    // A connection is open exactly while this holds (also after a disconnect was asked for,
    // until the device has closed its side).
    bool IsOpen() const { return m_socket.load() >= 0; }
    // The socket as the socket layer takes it (INVALID_SOCKET when not open).
    SOCKET Socket() const { return static_cast<SOCKET>(m_socket.load()); }

    // Interface thread. Connects a blocking TCP socket to a numeric IPv4 address; on failure
    // the socket is closed again and false is answered. A connection made is recorded in the
    // history with the address as given.
    bool Open(const char* pszAddress, std::uint16_t port);
    // Interface thread. Starts connecting without waiting for the device: the outcome is
    // posted to hWnd as nMsg (wParam the socket, lParam WSAAsyncSelect's FD_CONNECT word), to
    // be handed to FinishOpen. False, with the socket layer's error, when it cannot even start.
    bool BeginOpen(const char* pszAddress, std::uint16_t port, HWND hWnd, UINT nMsg, int& nError);
    // The outcome of BeginOpen's attempt: with nError 0 the connection is open (its socket
    // blocking again, as Open leaves it), unless that switch fails (nError then says why);
    // otherwise the attempt's socket is closed. False, and nothing done, for a socket that is
    // not the attempt's (a stale message).
    bool FinishOpen(WPARAM socket, int& nError);
    // Gives the attempt up: its socket is closed, and its outcome, if posted already, dropped.
    void CancelOpen();
    // Starts the worker for the open connection; false when it cannot be started.
    bool StartWorker();
    // Sends one request whole, or nothing, and appends the dump of what send took to the log.
    // When the socket cannot take more within a short wait (a device that stopped reading),
    // nothing is sent and the dump is the bare mark, as for a failed send. The send and its
    // dump happen with the receive path held (the wait before them does not): a reply the
    // worker receives is dumped after its request, however fast the device answers. Answers
    // what send answered, or -1.
    int SendAndLog(const std::uint8_t* pData, std::size_t nLength);
    // Asks to disconnect: no more sending; the connection ends when the device closes.
    void ShutdownSend();
    // Whether the end of the connection was asked for (a disconnect, or closing the window)
    // rather than the device's doing or a failure.
    bool EndWasAsked() const { return m_bEndAsked.load(); }
    // How many range-read replies the workers have decoded, over all connections, each counted
    // once its last byte is in. Any thread.
    std::uint64_t RangeRepliesDecoded() const { return m_nRangeReplies.load(); }
    // Closes the socket at the end of the connection (the worker has seen it end, and recorded
    // how). bRecordEnd: the worker never ran, so the end is recorded here, as a disconnect.
    void Close(bool bRecordEnd = false);
    // Ends the connection at once, whatever the device does, and waits for the worker to end,
    // still handling what it sends meanwhile (its last message). For closing the window.
    void Stop();

    // Any thread: text for the log pane, after everything appended before it; a non-empty
    // linePrefix starts each of its lines (see CLogHandOff).
    void AppendLog(std::string text, std::string_view linePrefix = {});
    // Whether log lines start with the time. The worker reads the clock as soon as recv
    // returns, so a dump carries the time its bytes arrived, however late the pane shows it.
    void SetTimestamps(bool bOn) { m_bTimestamps = bOn; }
    bool Timestamps() const { return m_bTimestamps; }
    // Any thread: tells the window that something waits, unless it has been told already.
    void Signal();
    // Interface thread: takes the row updates that wait and, oldest first, about maxChars of
    // log text (whole appends). Answers whether log text was dropped ahead of it (see
    // CLogHandOff). After this, the next thing that arrives is signalled again.
    bool TakeReceived(std::string& text, std::size_t maxChars, CRowUpdateBatch& rows);
    // Interface thread: takes only the row updates that wait (cheap to apply, and what the
    // operator waits for); the log text stays. Like TakeReceived, re-arms the signal.
    void TakeRowUpdates(CRowUpdateBatch& rows);
    // Whether log text or row updates still wait.
    bool HasReceived() const;
    // Drops the log text that waits (the log is being cleared), and tells the tap.
    void ClearLog();

private:
    friend UINT ReceiveThreadProc(LPVOID pParam);
    UINT ReceiveLoop();
    // Whether the socket can take a request within a short wait.
    bool WaitForRoom() const;
    // With m_lock held: the tap, then the hand-off.
    void AppendLocked(std::string text, std::string_view linePrefix = {});

    CDioReplySink& m_rows;
    CDioHistory& m_history;
    HWND m_hNotify = nullptr;
    UINT m_nReceivedMsg = 0;
    UINT m_nClosedMsg = 0;

    std::atomic<int> m_socket{-1};
    // The connection BeginOpen started, and where to, for the history.
    SOCKET m_attempt = INVALID_SOCKET;
    HWND m_hAttemptWnd = nullptr;
    UINT m_nAttemptMsg = 0;
    std::string m_strAttemptPeer;
    std::unique_ptr<CWinThread> m_pWorker;
    // Set by the worker once it no longer uses this object or the window.
    std::atomic<bool> m_bWorkerDone{false};
    // The operator asked to disconnect (or the window is closing): an orderly end is theirs.
    std::atomic<bool> m_bEndAsked{false};
    std::atomic<std::uint64_t> m_nRangeReplies{0};

    // Guards the two hand-offs, so a reply's log line and its row update arrive together.
    mutable CCriticalSection m_lock;
    CLogHandOff m_log;
    ILogTap* m_pTap = nullptr;
    TrafficDumpStyle m_dumpStyle;
    CRowUpdateBatch m_rowUpdates;
    std::atomic<bool> m_bSignalled{false};
    std::atomic<bool> m_bTimestamps{false};
};

// The worker's entry: pParam is the connection.
UINT ReceiveThreadProc(LPVOID pParam);

// How a request goes on the wire: send's shape. Replaceable so that tests can stretch the
// moment between the bytes leaving and send returning (as when the thread is preempted).
using SocketSendFunction = int(WSAAPI*)(SOCKET s, const char* pData, int nLength, int nFlags);
extern SocketSendFunction g_pfnSocketSend;

// How a wait for the worker waits: MsgWaitForMultipleObjects' shape (one handle, time-out,
// QS_SENDMESSAGE). Replaceable so that tests can make it fail.
using WorkerWaitFunction = DWORD (*)(HANDLE hThread, DWORD nTimeoutMs);

// Waits until the thread has ended, while still handling the messages other threads send to
// this one (the worker sends to the dialog and waits for the answer). When the wait itself
// fails, it relies on finished, which the thread sets after its last use of anything shared,
// and keeps handling sent messages until then. False when the time-out passed first.
bool WaitServingSentMessages(HANDLE hThread, const std::atomic<bool>& finished, DWORD timeoutMs,
                             WorkerWaitFunction wait = nullptr);
