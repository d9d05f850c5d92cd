// CDialog: a modal dialog made from a dialog template.
//
// The object is bound to its window at WM_INITDIALOG (the window is subclassed, so every later
// message goes through the message map and Default reaches the dialog manager) and unbound
// when the window is destroyed, before DoModal returns.
//
// The modal loop is the dialog's own, so that a dialog can see each message before the dialog
// manager does (PreTranslateMessage): keyboard accelerators, or the keys of a modeless dialog
// it owns. Otherwise it behaves as DialogBoxParam's: the owner is disabled while it runs,
// EndDialog ends it, and IsDialogMessage gives Tab, Enter, Esc and the mnemonics their
// meaning.
#pragma once

#include "platform/DataExchange.h"
#include "platform/Wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Creates the dialog, runs its modal loop and returns the result given to EndDialog
    // (-1 when the template cannot be made into a window).
    virtual INT_PTR DoModal();
    // Ends the modal loop with nResult once the current message is handled.
    void EndDialog(int nResult);

    UINT GetTemplateId() const { return m_nIDTemplate; }

protected:
    // Called once the controls exist; binds them (DoDataExchange). Answers TRUE to let the
    // dialog manager put the focus on the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    // Enter and Esc. The defaults end the dialog with IDOK and IDCANCEL.
    virtual void OnOK();
    virtual void OnCancel();

    BOOL OnCmdMsg(UINT nID, UINT nCode, WPARAM wParam, LPARAM lParam) override;

    // Each message the modal loop takes, before the dialog manager sees it. TRUE: handled,
    // nothing else sees it. The default handles nothing.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    // Help on this dialog: its template number as the help context.
    LRESULT OnCommandHelp(WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Runs until EndDialog or the window is gone; answers the result.
    INT_PTR RunModalLoop(HWND hWnd);

    // Enables the owner that DoModal disabled, once.
    void EnableOwner();

    bool m_bEnded = false;
    INT_PTR m_nResult = -1;
    HWND m_hDisabledOwner = nullptr;

    DECLARE_MESSAGE_MAP()
};

// Help contexts of dialogs are their template numbers above this base.
constexpr DWORD HID_BASE_RESOURCE = 0x00020000;
