// Catches the dialog boxes (message boxes, the About box) that open on one thread: records
// their caption, texts, icon and owner, and closes each at once with OK.
#pragma once

#include "platform/Win32.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

struct CaughtBox {
    std::string caption;
    std::string text;                 // the first static text (a message box's message)
    std::vector<std::string> statics; // every static control's text, in child order
    HWND hOwner = nullptr;
    HICON hIcon = nullptr; // the icon a message box shows, or null
};

class CBoxCatcher {
public:
    // Watches the calling thread; boxes opened there from now on are caught. With waitForMain,
    // nothing is caught until SetIgnore names the thread's main window.
    explicit CBoxCatcher(bool waitForMain = false);
    ~CBoxCatcher();
    CBoxCatcher(const CBoxCatcher&) = delete;
    CBoxCatcher& operator=(const CBoxCatcher&) = delete;

    // The main window of the thread: its own activation is not a box.
    void SetIgnore(HWND hWnd) {
        m_hIgnore = hWnd;
        m_bArmed = true;
    }

    // The boxes caught so far, oldest first. May be called from any thread.
    std::vector<CaughtBox> Boxes() const;
    void Clear();

private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);

    HHOOK m_hHook = nullptr;
    HWND m_hIgnore = nullptr;
    bool m_bArmed;
    std::set<HWND> m_seen; // boxes open now that were caught already (hook thread only)
    mutable std::mutex m_mutex;
    std::vector<CaughtBox> m_boxes;
};
