#include "ui/DioPanel.h"

BEGIN_MESSAGE_MAP(CDioPanel, CWnd)
END_MESSAGE_MAP()

BOOL CDioPanel::OnCommand(WPARAM wParam, LPARAM lParam) {
    return static_cast<BOOL>(::SendMessageA(GetParent(), WM_COMMAND, wParam, lParam));
}
