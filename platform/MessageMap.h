// Message maps: a static table per class that routes a window message, a command ID or a
// range of command IDs to a member handler. A class's table chains to its base class's table;
// the first matching entry, most derived class first, handles the message.
//
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_WM_SIZE()
//       ON_BN_CLICKED(1022, OnConnect)
//       ON_COMMAND_RANGE(2301, 2332, OnRowWrite)
//   END_MESSAGE_MAP()
#pragma once

#include "platform/Win32.h"

class CCmdTarget;

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // the window message; WM_COMMAND for commands and notifications
    UINT nCode;    // for WM_COMMAND: the notification code (0 for clicks and menu commands)
    UINT nID;      // for WM_COMMAND: the first command ID of the range
    UINT nLastID;  // for WM_COMMAND: the last command ID of the range
    LRESULT (*pfnInvoke)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries; // ends with an entry whose pfnInvoke is null
};

// Anything with a message map: windows and the application object.
class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Runs the handler of a command (WM_COMMAND with this ID and notification code).
    // Answers TRUE when some entry handled it.
    virtual BOOL OnCmdMsg(UINT nID, UINT nCode, WPARAM wParam, LPARAM lParam);

    // The first entry for message nMessage (not WM_COMMAND), or null.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage) const;
    // The first WM_COMMAND entry for this ID and notification code, or null.
    const AFX_MSGMAP_ENTRY* FindCommandEntry(UINT nID, UINT nCode) const;

protected:
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
    static const AFX_MSGMAP* GetThisMessageMap();
};

// clang-format off
#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }              \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                              \
        using ThisClass [[maybe_unused]] = theClass;                                               \
        using TheBaseClass = baseClass;                                                            \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    {0, 0, 0, 0, nullptr}};                                                                        \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &entries[0]};          \
    return &messageMap;                                                                            \
    }

// The entries. Each one is a captureless lambda that unpacks the message for a typed handler;
// being written inside the class's own member function, it may call private handlers.
#define KELVANE_MSG_ENTRY(message, body)                                                           \
    {message, 0, 0, 0, [](CCmdTarget* target, WPARAM wParam, LPARAM lParam) -> LRESULT {          \
         ThisClass* self = static_cast<ThisClass*>(target);                                        \
         (void)wParam;                                                                             \
         (void)lParam;                                                                             \
         body                                                                                      \
     }},

#define KELVANE_COMMAND_ENTRY(code, first, last, body)                                             \
    {WM_COMMAND, code, first, last, [](CCmdTarget* target, WPARAM wParam, LPARAM) -> LRESULT {     \
         ThisClass* self = static_cast<ThisClass*>(target);                                        \
         (void)wParam;                                                                             \
         body                                                                                      \
     }},

// void OnCommand(); void OnRange(UINT nID)
#define ON_COMMAND(id, memberFxn) KELVANE_COMMAND_ENTRY(0, id, id, self->memberFxn(); return 0;)
#define ON_BN_CLICKED(id, memberFxn)                                                               \
    KELVANE_COMMAND_ENTRY(BN_CLICKED, id, id, self->memberFxn(); return 0;)
#define ON_COMMAND_RANGE(first, last, memberFxn)                                                   \
    KELVANE_COMMAND_ENTRY(0, first, last, self->memberFxn(LOWORD(wParam)); return 0;)

// LRESULT OnMessage(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                                             \
    KELVANE_MSG_ENTRY(message, return self->memberFxn(wParam, lParam);)

// void OnSysCommand(UINT nID, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                                                                         \
    KELVANE_MSG_ENTRY(WM_SYSCOMMAND, self->OnSysCommand(static_cast<UINT>(wParam), lParam);        \
                      return 0;)
// void OnPaint()
#define ON_WM_PAINT() KELVANE_MSG_ENTRY(WM_PAINT, self->OnPaint(); return 0;)
// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                                      \
    KELVANE_MSG_ENTRY(WM_QUERYDRAGICON, return reinterpret_cast<LRESULT>(self->OnQueryDragIcon());)
// void OnVScroll(UINT nSBCode, UINT nPos, HWND hScrollBar)
#define ON_WM_VSCROLL()                                                                            \
    KELVANE_MSG_ENTRY(WM_VSCROLL,                                                                  \
                      self->OnVScroll(LOWORD(wParam), HIWORD(wParam),                              \
                                      reinterpret_cast<HWND>(lParam));                             \
                      return 0;)
// void OnTimer(UINT_PTR nIDEvent)
#define ON_WM_TIMER() KELVANE_MSG_ENTRY(WM_TIMER, self->OnTimer(static_cast<UINT_PTR>(wParam)); return 0;)
// void OnDestroy()
#define ON_WM_DESTROY() KELVANE_MSG_ENTRY(WM_DESTROY, self->OnDestroy(); return 0;)
// void OnClose()
#define ON_WM_CLOSE() KELVANE_MSG_ENTRY(WM_CLOSE, self->OnClose(); return 0;)
// void OnSize(UINT nType, int cx, int cy)
#define ON_WM_SIZE()                                                                               \
    KELVANE_MSG_ENTRY(WM_SIZE,                                                                     \
                      self->OnSize(static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)),  \
                                   static_cast<short>(HIWORD(lParam)));                            \
                      return 0;)
// void OnSizing(UINT fwSide, LPRECT pRect)
#define ON_WM_SIZING()                                                                             \
    KELVANE_MSG_ENTRY(WM_SIZING,                                                                   \
                      self->OnSizing(static_cast<UINT>(wParam), reinterpret_cast<LPRECT>(lParam)); \
                      return TRUE;)
// BOOL OnHelpInfo(HELPINFO* pHelpInfo)
#define ON_WM_HELPINFO()                                                                           \
    KELVANE_MSG_ENTRY(WM_HELP, return self->OnHelpInfo(reinterpret_cast<HELPINFO*>(lParam));)
// void OnContextMenu(HWND hWnd, POINT point)
#define ON_WM_CONTEXTMENU()                                                                        \
    KELVANE_MSG_ENTRY(WM_CONTEXTMENU,                                                              \
                      self->OnContextMenu(reinterpret_cast<HWND>(wParam),                          \
                                          POINT{static_cast<short>(LOWORD(lParam)),                \
                                                static_cast<short>(HIWORD(lParam))});              \
                      return 0;)
// clang-format on
