#include "app/AboutDlg.h"

#include "app/BuildStamp.h"
#include "platform/CString.h"
#include "res/resource.h"
#include "ui/MainDlg.h"

#include <memory>
#include <new>

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STATIC_VERSION, m_stVersion);
}

BOOL CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // Any failure leaves the template's text in place.
    const CString line = ReadVersionLine(KELVANE_BUILD_DATE, KELVANE_BUILD_TIME);
    if (!line.empty())
        m_stVersion.SetWindowText(line.c_str());
    return TRUE;
}

CString ReadVersionLine(const char* pszBuildDate, const char* pszBuildTime) {
    char path[MAX_PATH] = {};
    if (::GetModuleFileNameA(nullptr, path, MAX_PATH) == 0)
        return {};
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return {};
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
    if (block == nullptr)
        return {};
    if (!::GetFileVersionInfoA(path, handle, size, block.get()))
        return {};

    void* pValue = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.get(), "\\", &pValue, &length))
        return {};
    if (!::VerQueryValueA(block.get(), "\\VarFileInfo\\Translation", &pValue, &length) ||
        length < 2 * sizeof(WORD))
        return {};
    const WORD* pTranslation = static_cast<const WORD*>(pValue);
    const unsigned language = pTranslation[0];
    const unsigned codePage = pTranslation[1];

    auto queryString = [&](const char* key, CString& value) {
        const CString query =
            FormatString("\\StringFileInfo\\%04x%04x\\%s", language, codePage, key);
        void* pText = nullptr;
        UINT textLength = 0;
        if (!::VerQueryValueA(block.get(), query.c_str(), &pText, &textLength) || pText == nullptr)
            return false;
        value = static_cast<const char*>(pText);
        return true;
    };
    CString internalName;
    CString fileVersion;
    if (!queryString("InternalName", internalName) || !queryString("FileVersion", fileVersion))
        return {};
    return internalName + " Version " + fileVersion + " Build " +
           MakeBuildStamp(pszBuildDate, pszBuildTime);
}

void CMainDlg::OnAppAbout() {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
}
