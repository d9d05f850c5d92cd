#include "ui/MainDlg.h"

#include "app/AboutDlg.h"
#include "platform/PaintDC.h"
#include "platform/WinApp.h"
#include "res/resource.h"
#include "ui/LogCap.h"
#include "ui/TargetModel.h"
#include "ui/WindowSizing.h"

BEGIN_MESSAGE_MAP(CMainDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_VSCROLL()
    ON_BN_CLICKED(IDC_BTN_MULTI_WRITE, OnMultiWrite)
    ON_BN_CLICKED(IDC_BTN_CONNECT, OnConnect)
    ON_WM_CLOSE()
    ON_WM_SIZE()
    ON_WM_SIZING()
    ON_BN_CLICKED(IDC_BTN_MULTI_READ, OnMultiRead)
    ON_COMMAND(IDM_ABOUTBOX, OnAppAbout)
    ON_WM_HELPINFO()
    ON_BN_CLICKED(IDC_BTN_CLEAR_LOG, OnClearLog)
    ON_COMMAND_RANGE(IDC_ROW_WRITE_FIRST, IDC_ROW_WRITE_LAST, OnRowWrite)
    ON_COMMAND_RANGE(IDC_ROW_READ_FIRST, IDC_ROW_READ_LAST, OnRowRead)
    ON_COMMAND_RANGE(ID_TARGET_MODEL_FIRST, ID_TARGET_MODEL_LAST, OnTargetModel)
    ON_MESSAGE(WM_CONNECTION_CLOSED, OnConnectionClosed)
    ON_MESSAGE(WM_CONNECTION_RECEIVED, OnConnectionReceived)
    ON_WM_TIMER()
    ON_WM_DESTROY()
    ON_WM_CONTEXTMENU()
    ON_COMMAND(ID_LOG_SAVE_AS, OnSaveLogAs)
    ON_COMMAND(ID_LOG_CLEAR, OnClearLog)
    ON_COMMAND(ID_LOG_COPY, OnLogCopy)
    ON_COMMAND(ID_LOG_SELECT_ALL, OnLogSelectAll)
    ON_COMMAND(ID_LOG_TIMESTAMPS, OnLogTimestamps)
    ON_COMMAND(ID_LOG_FIND, OnLogFind)
    ON_COMMAND(ID_LOG_FIND_NEXT, OnLogFindNext)
    ON_COMMAND(ID_LOG_FIND_PREVIOUS, OnLogFindPrevious)
    ON_MESSAGE(CLogFinder::Message(), OnFindMessage)
    ON_COMMAND(ID_DEVICE_TIMELINE, OnDeviceTimeline)
    ON_COMMAND_RANGE(ID_POLL_FIRST, ID_POLL_LAST, OnPollInterval)
    ON_COMMAND(ID_DEVICE_RECONNECT, OnDeviceReconnect)
    ON_MESSAGE(WM_RECONNECT_RESULT, OnReconnectResult)
END_MESSAGE_MAP()

CMainDlg::CMainDlg(CWnd* pParent)
    : CDialog(IDD_MAIN, pParent), m_nPendingStart(-1), m_nDioCount(0), m_nMinHeight(-1),
      m_nLastWndHeight(-1), m_nLastWndWidth(-1), m_nLastClientHeight(-1), m_nLastClientWidth(-1),
      m_log(m_connection, m_richLog), m_finder(*this, m_richLog),
      m_timeline(m_history, [this] { return m_nDioCount.load(); }),
      m_connection(*this, m_history, static_cast<std::size_t>(LOG_CAP_CHARS)) {
    m_hIcon = ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CMainDlg::~CMainDlg() {
    // The worker is stopped before the window goes away (OnClose, OnDestroy); a dialog that
    // never ran has none.
    DiscardDioRows();
}

void CMainDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BTN_CLEAR_LOG, m_btnClearLog);
    DDX_Control(pDX, IDC_LBL_START_DIO, m_lblStartDio);
    DDX_Control(pDX, IDC_GRP_SINGLE, m_grpSingle);
    DDX_Control(pDX, IDC_GRP_MULTI, m_grpMulti);
    DDX_Control(pDX, IDC_LBL_END_DIO, m_lblEndDio);
    DDX_Control(pDX, IDC_RICH_LOG, m_richLog);
    DDX_Control(pDX, IDC_BTN_MULTI_WRITE, m_btnMultiWrite);
    DDX_Control(pDX, IDC_BTN_MULTI_READ, m_btnMultiRead);
    DDX_Control(pDX, IDC_GRP_RECEIVE, m_grpReceive);
    DDX_Control(pDX, IDC_BTN_CONNECT, m_btnConnect);
    DDX_Control(pDX, IDC_EDIT_PORT, m_editPort);
    DDX_Control(pDX, IDC_EDIT_TARGET, m_editTarget);
    DDX_Control(pDX, IDC_COMBO_END_DIO, m_cbEndDio);
    DDX_Control(pDX, IDC_COMBO_START_DIO, m_cbStartDio);
    DDX_Control(pDX, IDC_COL_READ, m_colRead);
    DDX_Control(pDX, IDC_COL_WRITE, m_colWrite);
    DDX_Control(pDX, IDC_HDR_STATE, m_hdrState);
    DDX_Control(pDX, IDC_HDR_MODE, m_hdrMode);
    DDX_Control(pDX, IDC_SCROLL_ROWS, m_scrollRows);
    DDX_Control(pDX, IDC_HDR_DIO_NO, m_hdrDioNo);
    DDX_Control(pDX, IDC_PANEL_ROWS, m_panelRows);
}

BOOL CMainDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_nUiThreadId = ::GetCurrentThreadId();

    // "About Kelvane..." in the system menu.
    if (HMENU hSysMenu = GetSystemMenu(FALSE); hSysMenu != nullptr) {
        char text[256] = {};
        if (::LoadStringA(AfxGetInstanceHandle(), IDS_ABOUTBOX, text,
                          static_cast<int>(sizeof text)) > 0 &&
            text[0] != '\0') {
            ::AppendMenuA(hSysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(hSysMenu, MF_STRING, IDM_ABOUTBOX, text);
        }
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // The range boxes take digits only, like the port field.
    ModifyStyle(m_cbStartDio.GetEditCtrl(), 0, ES_NUMBER);
    ModifyStyle(m_cbEndDio.GetEditCtrl(), 0, ES_NUMBER);

    m_connection.SetNotifyWindow(m_hWnd, WM_CONNECTION_RECEIVED, WM_CONNECTION_CLOSED);

    m_ppLabels = nullptr;
    m_ppModeCombos = nullptr;
    m_ppStateCombos = nullptr;
    m_ppWriteButtons = nullptr;
    m_ppReadButtons = nullptr;

    // Tab and the arrow keys walk into the rows.
    m_panelRows.ModifyStyleEx(0, WS_EX_CONTROLPARENT);

    // A fixed-pitch font keeps the columns of the traffic dump aligned.
    HDC hScreen = ::GetDC(nullptr);
    const int height = -::MulDiv(9, ::GetDeviceCaps(hScreen, LOGPIXELSY), 72);
    ::ReleaseDC(nullptr, hScreen);
    m_fontLog.Attach(::CreateFontA(height, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0x31, nullptr));
    m_richLog.SetFont(m_fontLog, TRUE);
    // Under a code page of multibyte characters the dump's character column shows the upper
    // half as dots; decided once, for the whole run.
    static const TrafficDumpStyle dumpStyle = DumpStyleForCodePage(CP_ACP);
    m_log.Open(dumpStyle);
    m_hAccel = ::LoadAcceleratorsA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINACCEL));

    SetupTargetModelMenu();
    // Poll starts Off (Reconnect Automatically starts unchecked in the template).
    ::CheckMenuRadioItem(GetMenu(), ID_POLL_FIRST, ID_POLL_LAST, ID_POLL_FIRST, MF_BYCOMMAND);
    BuildDioRows(g_targetModels[0].nDioCount);

    m_editPort.SetWindowText("5001");

    CaptureLayout();
    // A capture that could not be made has said so in the log.
    ScheduleApply(false);
    return TRUE;
}

BOOL CMainDlg::PreTranslateMessage(MSG* pMsg) {
    // The Find dialog, while open, gets its own keyboard: Tab, Enter, Esc.
    if (m_finder.PreTranslateMessage(pMsg))
        return TRUE;
    // So does the Timeline, with its own Ctrl+S.
    if (m_timeline.PreTranslateMessage(pMsg))
        return TRUE;
    // Shift+F10 and the menu key open the log's context menu while the pane has the focus;
    // their key-ups are kept from the pane too, so the menu opens once.
    if (pMsg->hwnd == m_richLog.m_hWnd) {
        const bool bMenuKey =
            (pMsg->message == WM_KEYDOWN || pMsg->message == WM_KEYUP) && pMsg->wParam == VK_APPS;
        const bool bShiftF10 = (pMsg->message == WM_SYSKEYDOWN || pMsg->message == WM_SYSKEYUP) &&
                               pMsg->wParam == VK_F10 && ::GetKeyState(VK_SHIFT) < 0;
        if (bMenuKey || bShiftF10) {
            if (pMsg->message == WM_KEYDOWN || pMsg->message == WM_SYSKEYDOWN)
                SendMessage(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_richLog.m_hWnd),
                            MAKELPARAM(-1, -1));
            return TRUE;
        }
    }
    // Accelerators work wherever the focus is in this window.
    if (m_hAccel != nullptr && (pMsg->hwnd == m_hWnd || ::IsChild(m_hWnd, pMsg->hwnd)) &&
        ::TranslateAcceleratorA(m_hWnd, m_hAccel, pMsg))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CMainDlg::OnOK() {
    // Enter connects; it never closes the window. While reconnecting it does nothing.
    if (!m_connection.IsOpen() && !Reconnecting())
        OnConnect();
}

void CMainDlg::OnCancel() {
    // Esc does nothing.
}

void CMainDlg::OnClose() {
    StopReconnecting(false);
    StopPolling();
    m_connection.Stop();
    EndDialog(IDCANCEL);
    Default();
}

void CMainDlg::OnDestroy() {
    // Normally done already by OnClose; whatever ends the dialog, the worker never outlives it.
    StopReconnecting(false);
    m_connection.Stop();
    Default();
}

void CMainDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        Default();
    }
}

void CMainDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(static_cast<HDC>(dc)), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const PixelPoint origin =
        MinimisedIconOrigin(rect.right - rect.left, rect.bottom - rect.top, cxIcon, cyIcon);
    dc.DrawIcon(origin.x, origin.y, m_hIcon);
}

HCURSOR CMainDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CMainDlg::OnDeviceTimeline() {
    m_timeline.Open(*this);
}

BOOL CMainDlg::OnHelpInfo(HELPINFO* pHelpInfo) {
    return CDialog::OnHelpInfo(pHelpInfo);
}
