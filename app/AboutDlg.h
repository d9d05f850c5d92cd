// The About box: the program's icon, name, version and build stamp.
#pragma once

#include "platform/Controls.h"
#include "platform/Dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    CStatic m_stVersion;

    DECLARE_MESSAGE_MAP()
};

// The version line from the executable's own version resource and the build stamp, e.g.
// "Kelvane Version 2.0 Build 26120806". Empty when the version resource cannot be read.
CString ReadVersionLine(const char* pszBuildDate, const char* pszBuildTime);
