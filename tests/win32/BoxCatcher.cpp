#include "tests/win32/BoxCatcher.h"

#include "platform/Wnd.h"

namespace {
thread_local CBoxCatcher* t_pCatcher = nullptr;

std::string ClassName(HWND hWnd) {
    char name[64] = {};
    ::GetClassNameA(hWnd, name, static_cast<int>(sizeof name));
    return name;
}
} // namespace

CBoxCatcher::CBoxCatcher(bool waitForMain) : m_bArmed(!waitForMain) {
    t_pCatcher = this;
    m_hHook = ::SetWindowsHookExA(WH_CBT, &CbtProc, nullptr, ::GetCurrentThreadId());
}

CBoxCatcher::~CBoxCatcher() {
    ::UnhookWindowsHookEx(m_hHook);
    t_pCatcher = nullptr;
}

LRESULT CALLBACK CBoxCatcher::CbtProc(int code, WPARAM wParam, LPARAM lParam) {
    CBoxCatcher* self = t_pCatcher;
    HWND hWnd = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_DESTROYWND && self != nullptr)
        self->m_seen.erase(hWnd);
    // A box is caught at its first activation; it may be activated again when another
    // process's window comes and goes meanwhile.
    if (code == HCBT_ACTIVATE && self != nullptr && self->m_bArmed && hWnd != self->m_hIgnore &&
        ClassName(hWnd) == "#32770" && self->m_seen.insert(hWnd).second) {
        CaughtBox box;
        box.caption = CWnd::GetWindowText(hWnd);
        box.hOwner = ::GetWindow(hWnd, GW_OWNER);
        for (HWND hChild = ::GetWindow(hWnd, GW_CHILD); hChild != nullptr;
             hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
            if (ClassName(hChild) != "Static")
                continue;
            if ((::GetWindowLongPtrA(hChild, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                box.hIcon = reinterpret_cast<HICON>(::SendMessageA(hChild, STM_GETICON, 0, 0));
                continue;
            }
            const std::string text = CWnd::GetWindowText(hChild);
            box.statics.push_back(text);
            if (box.text.empty())
                box.text = text;
        }
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_boxes.push_back(box);
        }
        ::PostMessageA(hWnd, WM_COMMAND, IDOK, 0);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<CaughtBox> CBoxCatcher::Boxes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}

void CBoxCatcher::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.clear();
}
