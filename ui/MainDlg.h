// CMainDlg: the program's main window. It owns the controls, the DIO rows, the device
// connection and its receive worker, and the traffic log.
//
// Its members are defined in the folder of the part of the program they belong to:
//   ui/MainDlg.cpp            the dialog itself: start-up, keyboard, closing, icon, help
//   ui/TrafficLog.cpp         the log pane
//   ui/DioRows.cpp            target models and the DIO rows
//   ui/RowScrolling.cpp       scrolling the row panel
//   ui/WindowResizing.cpp     following the window's size
//   connection/DeviceConnection.cpp   connecting, the receive worker, the end of a connection
//   protocol/CommandHandlers.cpp      the Write and Read buttons
//   app/AboutDlg.cpp          the About box command
#pragma once

#include "connection/RowUpdateBatch.h"
#include "platform/Controls.h"
#include "platform/CriticalSection.h"
#include "platform/Dialog.h"
#include "platform/Font.h"
#include "platform/WorkerThread.h"
#include "protocol/DioReplyParser.h"
#include "ui/DioPanel.h"
#include "ui/RowScroll.h"

#include <atomic>
#include <memory>

// Sent by the receive worker when the connection has ended; handled while the worker waits.
constexpr UINT WM_CONNECTION_CLOSED = WM_USER + 300;
// Sent by the receive worker when much log text waits: move it into the log pane now.
constexpr UINT WM_LOG_FLUSH = WM_USER + 301;
// Posted by the receive worker when log text starts waiting: move it into the pane soon.
constexpr UINT WM_LOG_SCHEDULE = WM_USER + 302;
// Posted by the receive worker: apply the row selections decoded from the device's replies.
constexpr UINT WM_APPLY_ROW_UPDATES = WM_USER + 303;

class CMainDlg : public CDialog, public CDioReplySink {
public:
    explicit CMainDlg(CWnd* pParent = nullptr);
    ~CMainDlg() override;

    // Log pane. Both may be called on either thread.
    void AppendLog(const CString& text);
    void LogTraffic(BYTE bSent, const BYTE* pData, int nCount);
    // Moves the text that waits for the log pane into it now (interface thread).
    void FlushLog();

    // Row set. Row r must be below m_nDioCount; callers check.
    int GetRowMode(int r) const;
    int GetRowState(int r) const;
    void SetRowMode(int r, int v) final;
    void SetRowState(int r, int v) final;
    void EnableRowButtons(bool bEnable);

    // Reply sink: what the reply parser reads and clears. The integers are shared with the
    // interface thread and only ever read or written whole, so no ordering is asked for.
    int GetRowCount() final { return m_nDioCount.load(std::memory_order_relaxed); }
    int GetPendingStart() final { return m_nPendingStart.load(std::memory_order_relaxed); }
    void ClearPendingStart() final { m_nPendingStart.store(-1, std::memory_order_relaxed); }

    // The receive worker's body, on the worker thread.
    UINT ReceiveLoop();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnCancel() override;

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

    // Log pane
    void OnClearLog();
    LRESULT OnLogFlush(WPARAM wParam, LPARAM lParam);
    LRESULT OnLogSchedule(WPARAM wParam, LPARAM lParam);
    void OnTimer(UINT_PTR nIDEvent);
    void ScheduleLogFlush();
    void WriteToLogPane(const CString& text);

    // Target models and rows
    void SetupTargetModelMenu();
    void OnTargetModel(UINT nID);
    void BuildDioRows(int count);
    void DiscardDioRows();
    // Hands the row selections decoded from one chunk to the interface thread (worker).
    void QueueRowUpdates();
    LRESULT OnApplyRowUpdates(WPARAM wParam, LPARAM lParam);

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
    void StopReceiveWorker();
    void JoinReceiveWorker();

    // Commands
    void OnRowWrite(UINT nID);
    void OnRowRead(UINT nID);
    void OnMultiWrite();
    void OnMultiRead();
    int ReadDioNumber(CComboBoxEx& box) const;
    // Sends one request on the connection and dumps what send took into the log.
    void SendRequest(const std::uint8_t* pFrame, std::size_t nLength);

    bool OnInterfaceThread() const { return ::GetCurrentThreadId() == m_nUiThreadId; }
    // m_socket as the socket layer takes it.
    SOCKET Socket() const { return static_cast<SOCKET>(m_socket.load()); }

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
    std::atomic<int> m_socket;
    std::unique_ptr<CCriticalSection> m_pLogLock;
    CButton** m_ppReadButtons = nullptr;
    CButton** m_ppWriteButtons = nullptr;
    CComboBox** m_ppStateCombos = nullptr;
    CComboBox** m_ppModeCombos = nullptr;
    CStatic** m_ppLabels = nullptr;
    HICON m_hIcon;

    // The receive worker of the current (or just ended) connection.
    std::unique_ptr<CWinThread> m_pReceiveThread;
    // Row selections decoded by the worker from the chunk being handled (worker only).
    CRowUpdateBatch m_rowUpdates;
    // Row selections handed over and not yet applied, and whether the interface thread has
    // been told. Both guarded by m_rowLock.
    CCriticalSection m_rowLock;
    CRowUpdateBatch m_pendingRows;
    bool m_bRowsPosted = false;
    // Log text appended but not yet in the pane, and whether a flush is on its way.
    // Both guarded by m_pLogLock.
    CString m_strPendingLog;
    bool m_bLogFlushScheduled = false;
    DWORD m_nUiThreadId = 0;

    DECLARE_MESSAGE_MAP()
};

// The receive worker's entry: pParam is the dialog.
UINT ReceiveThreadProc(LPVOID pParam);
