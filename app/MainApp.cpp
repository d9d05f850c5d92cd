#include "app/MainApp.h"

#include "platform/MessageBox.h"
#include "platform/SocketInit.h"
#include "res/resource.h"
#include "ui/MainDlg.h"

CMainApp theApp;

BEGIN_MESSAGE_MAP(CMainApp, CWinApp)
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

BOOL CMainApp::InitInstance() {
    if (!AfxSocketInit()) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED);
        return FALSE;
    }
    AfxInitRichEdit();

    CMainDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of the application's own: the process ends here.
    return FALSE;
}
