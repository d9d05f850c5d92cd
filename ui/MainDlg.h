// CMainDlg: the program's main window. It owns the controls, the DIO rows, the device
// connection and its receive worker, and the traffic log.
//
// Its members are defined in the folder of the part of the program they belong to:
//   ui/MainDlg.cpp            the dialog itself: start-up, keyboard, closing, icon, help
//   ui/TrafficLog.cpp         the log pane (CTrafficLog, ui/TrafficLog.h), Save Log As
//   ui/DioRows.cpp            target models and the DIO rows
//   ui/RowScrolling.cpp       scrolling the row panel
//   ui/WindowResizing.cpp     following the window's size
//   ui/ConnectionHandlers.cpp connecting, disconnecting, taking what the receive path hands over
//   ui/Poll_win.cpp           polling the device, and range commands waiting behind a poll
//   ui/Reconnect_win.cpp      connecting again by itself when the device drops the connection
//   protocol/CommandHandlers.cpp      the Write and Read buttons
//   app/AboutDlg.cpp          the About box command
// The connection itself, its receive worker and the reply parser are one object,
// CDeviceConnection (connection/DeviceConnection.h).
#pragma once

#include "connection/DeviceConnection.h"
#include "connection/RowUpdateBatch.h"
#include "platform/Controls.h"
#include "platform/Dialog.h"
#include "platform/Font.h"
#include "protocol/DioReplyParser.h"
#include "ui/DioPanel.h"
#include "ui/RowScroll.h"
#include "ui/LogFinder.h"
#include "ui/Timeline_win.h"
#include "ui/Poll.h"
#include "ui/TrafficLog.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Sent by the receive worker when the connection has ended; handled while the worker waits.
constexpr UINT WM_CONNECTION_CLOSED = WM_USER + 300;
// Posted by the receive path when log text or row updates start waiting (one at a time).
constexpr UINT WM_CONNECTION_RECEIVED = WM_USER + 301;
// Posted by the socket layer when an automatic connection attempt has an outcome.
constexpr UINT WM_RECONNECT_RESULT = WM_USER + 302;

class CMainDlg : public CDialog, public CDioReplySink {
public:
    explicit CMainDlg(CWnd* pParent = nullptr);
    ~CMainDlg() override;

    // Log pane. Both may be called on either thread.
    void AppendLog(const CString& text);
    void LogTraffic(BYTE bSent, const BYTE* pData, int nCount);
    // Applies everything that waits for the pane and the rows now (interface thread).
    void FlushLog();

    // Row set. Row r must be below m_nDioCount; callers check.
    int GetRowMode(int r) const;
    int GetRowState(int r) const;
    void SetRowMode(int r, int v) final;
    void SetRowState(int r, int v) final;
    void EnableRowButtons(bool bEnable);

    // Reply sink: what the reply parser reads and clears. The integers are shared with the
    // receive worker and only ever read or written whole, so no ordering is asked for.
    int GetRowCount() final { return m_nDioCount.load(std::memory_order_relaxed); }
    int GetPendingStart() final { return m_nPendingStart.load(std::memory_order_relaxed); }
    void ClearPendingStart() final { m_nPendingStart.store(-1, std::memory_order_relaxed); }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnCancel() override;
    // The main window's keyboard accelerators, and the context-menu keys in the log pane.
    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Starts the receive worker for the open connection; false when it cannot be started.
    virtual bool StartReceiveWorker();

    // Dialog
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnClose();
    void OnDestroy();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    void OnAppAbout();

    // Log pane (forwarded to m_log)
    void OnClearLog();
    void OnSaveLogAs();
    void OnLogCopy();
    void OnLogSelectAll();
    void OnContextMenu(HWND hWnd, POINT point);
    // Timestamps and Find
    void OnLogTimestamps();
    void OnLogFind();
    void OnLogFindNext();
    void OnLogFindPrevious();
    LRESULT OnFindMessage(WPARAM wParam, LPARAM lParam);

    // Device menu
    void OnDeviceTimeline();
    void OnPollInterval(UINT nID);
    void OnDeviceReconnect();

    // The dialog's timers.
    enum Timer : UINT_PTR {
        APPLY_TIMER = 1,  // the next apply of what the receive path handed over
        POLL_TIMER,       // the next poll
        RANGE_HOLD_TIMER, // range commands held behind a poll go at the latest
        RECONNECT_TIMER,  // the next automatic connection attempt
        ATTEMPT_TIMER,    // an automatic attempt is given up
    };

    // Polling (Poll_win.cpp). Polls run while connected and Poll is not Off.
    void StartPolling();
    void StopPolling();
    void OnPollTick();
    // Sends the operator's range command (a Read when bRead), or holds it while a poll's
    // reply is awaited; start becomes the pending range start when it is sent.
    void SendRangeCommand(std::vector<std::uint8_t> frame, int start, bool bRead);
    // Takes the count of range replies decoded, and sends the held commands that may go.
    void UpdatePollGate();

    // Connecting again by itself (Reconnect_win.cpp).
    // The connection has ended; bDropped: not by the operator's Disconnect. Starts
    // reconnecting when that is on.
    void ReconnectIfDropped(bool bDropped);
    void ScheduleReconnect();
    void OnReconnectTimer();
    LRESULT OnReconnectResult(WPARAM wParam, LPARAM lParam);
    // The attempt failed for reason (the system's words): logged, and the next one planned.
    void OnReconnectFailed(const std::string& reason);
    // Ends reconnecting; bLog: says so in the log.
    void StopReconnecting(bool bLog);
    bool Reconnecting() const { return m_bReconnecting; }

    // Target models and rows
    void SetupTargetModelMenu();
    void OnTargetModel(UINT nID);
    void BuildDioRows(int count);
    void DiscardDioRows();
    // Selects what the device reported in rows that still exist.
    void ApplyRowUpdates(CRowUpdateBatch& updates);

    // Scrolling and sizing
    void UpdateRowScroll();
    void OnVScroll(UINT nSBCode, UINT nPos, HWND hScrollBar);
    void MoveRows(int nDelta);
    void CaptureLayout();
    void OnSize(UINT nType, int cx, int cy);
    void OnSizing(UINT fwSide, LPRECT pRect);

    // The rows' pitch, first top and line step, scaled from 96 DPI to the screen's DPI.
    static RowFigures ScaledRowFigures();

    // Connection
    void OnConnect();
    LRESULT OnConnectionClosed(WPARAM wParam, LPARAM lParam);
    void ShowConnectedState(bool bConnected);
    // The window while it reconnects: Dis&connect stops it; nothing can be sent.
    void ShowReconnectingState();
    // A connection is open (made by the operator or by reconnecting): the controls, the log
    // line, the receive worker and polling. False when the worker could not be started (the
    // connection is given up again).
    bool ConnectionMade(const std::string& target, const std::string& port);
    // What the receive path hands over is applied at a pace the interface thread can afford:
    // at once when the last apply is long enough ago, otherwise by a timer, which yields to
    // input and painting. Row updates alone may go sooner. The interface thread's own lines
    // (bMayApplyNow false) always wait for the timer: a click's handler then returns at once,
    // and the device's answer to it is not held up behind the drawing of the request.
    LRESULT OnConnectionReceived(WPARAM wParam, LPARAM lParam);
    void ScheduleApply(bool bMayApplyNow);
    void OnTimer(UINT_PTR nIDEvent);
    // Applies the row updates and up to maxChars of log text that wait.
    void ApplyReceived(std::size_t maxChars);

    // Commands
    void OnRowWrite(UINT nID);
    void OnRowRead(UINT nID);
    void OnMultiWrite();
    void OnMultiRead();
    int ReadDioNumber(CComboBoxEx& box) const;
    // Sends one request on the connection and dumps what send took into the log.
    void SendRequest(const std::uint8_t* pFrame, std::size_t nLength);

    bool OnInterfaceThread() const { return ::GetCurrentThreadId() == m_nUiThreadId; }

    std::atomic<int> m_nPendingStart;
    std::atomic<int> m_nDioCount;
    CButton m_btnClearLog;
    CStatic m_lblStartDio;
    CButton m_grpSingle;
    CButton m_grpMulti;
    CStatic m_lblEndDio;
    CRichEditCtrl m_richLog;
    CButton m_btnMultiWrite;
    CButton m_btnMultiRead;
    CButton m_grpReceive;
    CButton m_btnConnect;
    CEdit m_editPort;
    CEdit m_editTarget;
    CComboBoxEx m_cbEndDio;
    CComboBoxEx m_cbStartDio;
    CStatic m_colRead;
    CStatic m_colWrite;
    CStatic m_hdrState;
    CStatic m_hdrMode;
    CScrollBar m_scrollRows;
    CStatic m_hdrDioNo;
    CDioPanel m_panelRows;
    int m_nScrollPos = 0;
    int m_nMinHeight;
    int m_nLastWndHeight;
    int m_nLastWndWidth;
    int m_nLastClientHeight;
    int m_nLastClientWidth;
    CFont m_fontLog;
    CButton** m_ppReadButtons = nullptr;
    CButton** m_ppWriteButtons = nullptr;
    CComboBox** m_ppStateCombos = nullptr;
    CComboBox** m_ppModeCombos = nullptr;
    CStatic** m_ppLabels = nullptr;
    HICON m_hIcon;
    HACCEL m_hAccel = nullptr;

    DWORD m_nUiThreadId = 0;

    // The traffic log: the pane, its cap, the session capture, Save Log As. Before the
    // connection, whose worker appends to its capture until it is stopped.
    CTrafficLog m_log;
    // Find in the pane: the modeless Find dialog, F3 and Shift+F3.
    CLogFinder m_finder;

    // What the device said about its DIOs over time: the worker records, the Timeline reads.
    CDioHistory m_history;
    // The Timeline window (Device > Timeline), made when first opened.
    CTimelineWnd m_timeline;

    // The device connection: socket, receive worker, parser, and what it hands over. Declared
    // last, so it is gone (its worker long stopped) before anything it reads.
    CDeviceConnection m_connection;
    // When the next apply of what it hands over may run, and whether a timer waits for that.
    std::chrono::steady_clock::time_point m_nextApply{};
    std::chrono::steady_clock::time_point m_nextRowApply{};
    bool m_bApplyTimer = false;

    // Polling: the interval chosen (0: Off), the gate between polls and range commands, and
    // the operator's range commands that wait behind a poll, oldest first.
    struct HeldRangeCommand {
        std::vector<std::uint8_t> frame;
        int start;
        bool bRead;
    };
    int m_nPollIntervalMs = 0;
    CPollGate m_pollGate;
    std::deque<HeldRangeCommand> m_heldRange;

    // Reconnecting: whether it is on, whether it is under way, and to where (the target and
    // port texts of the last connection, as typed).
    bool m_bAutoReconnect = false;
    bool m_bReconnecting = false;
    int m_nReconnectFailures = 0;
    std::string m_strTarget;
    std::string m_strPort;

    DECLARE_MESSAGE_MAP()
};
