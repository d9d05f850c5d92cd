// Runs the main dialog modally on a thread of its own, the way the program runs it, so a test
// can drive its real controls with messages from the test thread and read them back.
//
// Message boxes and the About box that open on the dialog's thread are caught (CBoxCatcher):
// their caption, texts, icon and owner are recorded, and they are closed at once with OK.
#pragma once

#include "platform/Win32.h"
#include "tests/win32/BoxCatcher.h"
#include "ui/MainDlg.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CDialogHarness {
public:
    using Factory = std::function<std::unique_ptr<CMainDlg>()>;

    // Starts the dialog; returns once its OnInitDialog has run.
    explicit CDialogHarness(Factory factory = nullptr);
    // Closes the dialog if it is still open (WM_CLOSE) and waits for its thread.
    ~CDialogHarness();
    CDialogHarness(const CDialogHarness&) = delete;
    CDialogHarness& operator=(const CDialogHarness&) = delete;

    HWND Dialog() const { return m_hDialog; }
    CMainDlg& Dlg() const { return *m_pDialog; }
    // A control of the dialog, or of the row panel (the row controls), by ID; the n-th
    // control with that ID counts from 0 (row labels all share one ID).
    HWND Item(int id, int nth = 0) const;

    LRESULT Send(HWND hWnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(hWnd, message, wParam, lParam);
    }
    // A WM_COMMAND to the dialog as a click on control id (or a menu command) produces it.
    void Command(int id) const;
    // Clicks a button the way the mouse does: a disabled button ignores it.
    void Click(int id, int nth = 0) const;
    std::string Text(HWND hWnd) const;
    std::string Text(int id) const { return Text(Item(id)); }
    void SetText(int id, const std::string& text) const;
    int CurSel(HWND hCombo) const { return static_cast<int>(Send(hCombo, CB_GETCURSEL)); }
    bool Enabled(int id, int nth = 0) const { return ::IsWindowEnabled(Item(id, nth)) != FALSE; }
    // The control's rectangle in the dialog's (or, for row controls, the panel's) client area.
    RECT RectIn(HWND hControl, HWND hParent) const;
    // Row r's selections: (mode, state) item indexes.
    std::pair<int, int> Row(int r) const {
        return {CurSel(Item(2101 + r)), CurSel(Item(2201 + r))};
    }
    void SetRow(int r, int mode, int state) const;
    // Types into the edit fields of the Start DIO and End DIO boxes.
    void SetRange(const std::string& start, const std::string& end) const;
    // Types 127.0.0.1 and the port and clicks Connect.
    void ConnectTo(const std::string& port) const;

    // The log pane's text, once whatever waits for it is in.
    std::string LogText() const {
        OnUiThread([this] { m_pDialog->FlushLog(); });
        return Text(Item(1016));
    }

    // Runs f on the dialog's thread and returns when it is done.
    void OnUiThread(const std::function<void()>& f) const;

    // Dialogs with this caption are not caught but left open.
    void LeaveOpen(const std::string& caption) { m_pCatcher->LeaveOpen(caption); }
    // The boxes caught so far, oldest first.
    std::vector<CaughtBox> Boxes() const;
    void ClearBoxes();

    // True once DoModal has returned (the dialog closed); waits up to timeout.
    bool WaitClosed(std::chrono::milliseconds timeout);
    bool Closed() const;

private:
    void Run(Factory factory);
    static LRESULT CALLBACK CallProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::thread m_thread;
    std::unique_ptr<CMainDlg> m_pDialog;
    HWND m_hDialog = nullptr;
    HWND m_hCallWnd = nullptr;
    std::unique_ptr<CBoxCatcher> m_pCatcher; // made on the dialog's thread, which it watches
    HANDLE m_hReady = nullptr;
    HANDLE m_hDone = nullptr;
};

// The program itself, kelvane.exe, beside the test executable's folder.
std::string ProgramPath();

// Waits until pred() holds or the timeout passes, checking every few milliseconds.
// Answers the last value of pred().
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The main dialog with its inner state readable by tests (read it on the dialog's thread).
class CTestMainDlg : public CMainDlg {
public:
    using CMainDlg::m_connection;
    using CMainDlg::m_fontLog;
    using CMainDlg::m_history;
    using CMainDlg::m_log;
    using CMainDlg::m_nDioCount;
    using CMainDlg::m_nLastClientHeight;
    using CMainDlg::m_nLastClientWidth;
    using CMainDlg::m_nLastWndHeight;
    using CMainDlg::m_nLastWndWidth;
    using CMainDlg::m_nMinHeight;
    using CMainDlg::m_nPendingStart;
    using CMainDlg::m_nScrollPos;
    using CMainDlg::m_ppLabels;
    using CMainDlg::m_ppModeCombos;
    using CMainDlg::m_ppReadButtons;
    using CMainDlg::m_ppStateCombos;
    using CMainDlg::m_ppWriteButtons;
    using CMainDlg::m_timeline;
    using CMainDlg::OnClearLog;
};

// A harness whose dialog is a CTestMainDlg.
class CTestDialogHarness : public CDialogHarness {
public:
    CTestDialogHarness() : CDialogHarness([] { return std::make_unique<CTestMainDlg>(); }) {}
    CTestMainDlg& TestDlg() const { return static_cast<CTestMainDlg&>(Dlg()); }
};
