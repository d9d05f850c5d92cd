// The application object and the process-wide framework state: the module, the main window,
// the application's display name and its help file.
#pragma once

#include "platform/CString.h"
#include "platform/MessageMap.h"
#include "platform/Win32.h"

class CWnd;

class CWinApp : public CCmdTarget {
public:
    // The one application object registers itself; AfxGetApp answers it.
    CWinApp();
    ~CWinApp() override;

    // Runs the application. FALSE means there is no message loop to run: the process ends.
    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }

    // Asks the help engine for help on dwData, in the help file beside the executable.
    // Tells the operator when the help engine cannot be started.
    void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT);
    // The Help command: context help for the window with the capture or the focus.
    void OnHelp();

    // The main window, while it exists.
    CWnd* m_pMainWnd = nullptr;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();

// The name messages are captioned with: the executable's file name without directory and
// extension.
const char* AfxGetAppName();
// The executable's path with its extension replaced by ".HLP".
const char* AfxGetHelpFilePath();

// Registers the common control classes the dialogs use (ComboBoxEx). Safe to call repeatedly.
void AfxInitCommonControls();
// Loads the rich edit 1.0 control library once per process.
BOOL AfxInitRichEdit();

// The help engine. Tests replace it to observe help requests without starting one.
using AFX_HELP_ENGINE = BOOL(WINAPI*)(HWND hWndMain, const char* lpszHelp, UINT uCommand,
                                      ULONG_PTR dwData);
extern AFX_HELP_ENGINE g_pfnHelpEngine;

// The framework's entry: runs the application object's InitInstance and ExitInstance.
int AfxWinMain();
