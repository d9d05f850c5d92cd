// CDioPanel: the panel that holds the DIO rows. The rows are its children, so their clicks
// come here; the panel passes every command on to the dialog.
#pragma once

#include "platform/Wnd.h"

class CDioPanel : public CWnd {
public:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

    DECLARE_MESSAGE_MAP()
};
