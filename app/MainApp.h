// The application: starts the socket layer and the rich edit control, then runs the main
// window until the operator closes it.
#pragma once

#include "platform/WinApp.h"

class CMainApp : public CWinApp {
public:
    CMainApp() = default;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CMainApp theApp;
