#include "tests/win32/DialogHarness.h"

#include "app/MainApp.h"
#include "platform/SocketInit.h"

#include <gtest/gtest.h>

namespace {
constexpr UINT WM_HARNESS_CALL = WM_APP + 1;
constexpr UINT WM_HARNESS_READY = WM_APP + 2;

CDialogHarness* g_pHarness = nullptr; // the one running now (one at a time per process)

void PumpFor(DWORD milliseconds) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}
} // namespace

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return pred();
        PumpFor(2);
    }
    return true;
}

CDialogHarness::CDialogHarness(Factory factory) {
    static const bool started = AfxSocketInit() && AfxInitRichEdit();
    EXPECT_TRUE(started);
    m_hReady = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hDone = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_thread = std::thread([this, factory] { Run(factory); });
    if (::WaitForSingleObject(m_hReady, 20000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the main dialog did not open";
        std::abort();
    }
}

CDialogHarness::~CDialogHarness() {
    if (!Closed())
        ::PostMessageA(m_hDialog, WM_CLOSE, 0, 0);
    if (!WaitClosed(std::chrono::seconds(20))) {
        ADD_FAILURE() << "the main dialog did not close";
        std::abort();
    }
    m_thread.join();
    ::CloseHandle(m_hReady);
    ::CloseHandle(m_hDone);
}

void CDialogHarness::Run(Factory factory) {
    g_pHarness = this;
    m_hCallWnd =
        ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ::SetWindowLongPtrA(m_hCallWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CallProc));
    m_pCatcher = std::make_unique<CBoxCatcher>(true);

    m_pDialog = factory ? factory() : std::make_unique<CMainDlg>();
    theApp.m_pMainWnd = m_pDialog.get();
    // Dispatched by the dialog's modal loop, that is once the dialog is up.
    ::PostMessageA(m_hCallWnd, WM_HARNESS_READY, 0, 0);
    m_pDialog->DoModal();
    theApp.m_pMainWnd = nullptr;

    m_pDialog.reset();
    ::DestroyWindow(m_hCallWnd);
    g_pHarness = nullptr;
    ::SetEvent(m_hReady); // in case the dialog never came up
    ::SetEvent(m_hDone);
}

LRESULT CALLBACK CDialogHarness::CallProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_HARNESS_CALL) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    if (message == WM_HARNESS_READY) {
        g_pHarness->m_hDialog = g_pHarness->m_pDialog->m_hWnd;
        g_pHarness->m_pCatcher->SetIgnore(g_pHarness->m_hDialog);
        ::SetEvent(g_pHarness->m_hReady);
        return 0;
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

HWND CDialogHarness::Item(int id, int nth) const {
    if (HWND hItem = ::GetDlgItem(m_hDialog, id); hItem != nullptr && nth == 0)
        return hItem;
    HWND hPanel = ::GetDlgItem(m_hDialog, 1004);
    int seen = 0;
    for (HWND hChild = ::GetWindow(hPanel, GW_CHILD); hChild != nullptr;
         hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        if (::GetDlgCtrlID(hChild) == id && seen++ == nth)
            return hChild;
    }
    return nullptr;
}

void CDialogHarness::Command(int id) const {
    Send(m_hDialog, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void CDialogHarness::Click(int id, int nth) const {
    HWND hButton = Item(id, nth);
    ASSERT_NE(hButton, nullptr) << "no control " << id;
    Send(hButton, BM_CLICK);
}

std::string CDialogHarness::Text(HWND hWnd) const {
    return CWnd::GetWindowText(hWnd);
}

void CDialogHarness::SetText(int id, const std::string& text) const {
    Send(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void CDialogHarness::SetRow(int r, int mode, int state) const {
    Send(Item(2101 + r), CB_SETCURSEL, static_cast<WPARAM>(mode));
    Send(Item(2201 + r), CB_SETCURSEL, static_cast<WPARAM>(state));
}

void CDialogHarness::SetRange(const std::string& start, const std::string& end) const {
    for (auto [id, text] : {std::pair{1011, start}, std::pair{1013, end}}) {
        HWND hEdit = reinterpret_cast<HWND>(Send(Item(id), CBEM_GETEDITCONTROL));
        Send(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void CDialogHarness::ConnectTo(const std::string& port) const {
    SetText(1006, "127.0.0.1");
    SetText(1007, port);
    Click(1022);
}

RECT CDialogHarness::RectIn(HWND hControl, HWND hParent) const {
    RECT rect{};
    ::GetWindowRect(hControl, &rect);
    ::MapWindowPoints(nullptr, hParent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void CDialogHarness::OnUiThread(const std::function<void()>& f) const {
    Send(m_hCallWnd, WM_HARNESS_CALL, 0, reinterpret_cast<LPARAM>(&f));
}

std::vector<CaughtBox> CDialogHarness::Boxes() const {
    return m_pCatcher->Boxes();
}

void CDialogHarness::ClearBoxes() {
    m_pCatcher->Clear();
}

bool CDialogHarness::Closed() const {
    return ::WaitForSingleObject(m_hDone, 0) == WAIT_OBJECT_0;
}

bool CDialogHarness::WaitClosed(std::chrono::milliseconds timeout) {
    return WaitUntil([this] { return Closed(); }, timeout);
}

std::string ProgramPath() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path);
    text = text.substr(0, text.find_last_of('\\')); // ...\tests
    return text.substr(0, text.find_last_of('\\')) + "\\kelvane.exe";
}
