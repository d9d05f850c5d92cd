#include "platform/WinApp.h"

#include "platform/MessageBox.h"
#include "platform/Wnd.h"

namespace {
CWinApp* g_pApp = nullptr;

CString ModulePath() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return CString(path, length < MAX_PATH ? length : 0);
}

// The position just past the last path separator of path.
std::size_t FileNameStart(const CString& path) {
    const std::size_t slash = path.find_last_of("\\/:");
    return slash == CString::npos ? 0 : slash + 1;
}

// The position of the extension's dot in the file-name part of path, or npos.
std::size_t ExtensionStart(const CString& path) {
    const std::size_t dot = path.find_last_of('.');
    return dot != CString::npos && dot >= FileNameStart(path) ? dot : CString::npos;
}
} // namespace

AFX_HELP_ENGINE g_pfnHelpEngine = &::WinHelpA;

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CWinApp::CWinApp() {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

void CWinApp::WinHelp(DWORD_PTR dwData, UINT nCmd) {
    HWND hMain = m_pMainWnd != nullptr ? m_pMainWnd->m_hWnd : nullptr;
    if (!g_pfnHelpEngine(hMain, AfxGetHelpFilePath(), nCmd, dwData))
        AfxMessageBox("Failed to launch help.");
}

void CWinApp::OnHelp() {
    // The window holding the capture, then the one with the focus, each followed by its
    // parents, is asked for help; the first that answers TRUE gave it.
    for (HWND start : {::GetCapture(), ::GetFocus()}) {
        for (HWND hWnd = start; hWnd != nullptr; hWnd = ::GetParent(hWnd)) {
            if (::SendMessageA(hWnd, WM_COMMANDHELP, 0, 0))
                return;
        }
    }
    if (m_pMainWnd != nullptr && m_pMainWnd->m_hWnd != nullptr)
        m_pMainWnd->SendMessage(WM_COMMANDHELP, 0, 0);
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

CWnd* AfxGetMainWnd() {
    return g_pApp != nullptr ? g_pApp->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle() {
    return ::GetModuleHandleA(nullptr);
}

const char* AfxGetAppName() {
    static const CString name = [] {
        const CString path = ModulePath();
        const std::size_t start = FileNameStart(path);
        const std::size_t dot = ExtensionStart(path);
        return path.substr(start, dot == CString::npos ? CString::npos : dot - start);
    }();
    return name.c_str();
}

const char* AfxGetHelpFilePath() {
    static const CString helpPath = [] {
        const CString path = ModulePath();
        return path.substr(0, ExtensionStart(path)) + ".HLP";
    }();
    return helpPath.c_str();
}

void AfxInitCommonControls() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
        return ::InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)registered;
}

BOOL AfxInitRichEdit() {
    static const HMODULE library = ::LoadLibraryA("RICHED32.DLL");
    return library != nullptr;
}

int AfxWinMain() {
    CWinApp* pApp = AfxGetApp();
    if (pApp == nullptr)
        return -1;
    if (pApp->InitInstance()) {
        // This program has no message loop of its own beyond its dialogs.
    }
    return pApp->ExitInstance();
}
