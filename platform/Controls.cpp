#include "platform/Controls.h"

int CComboBoxEx::InsertItem(int nIndex, const char* lpszText) {
    COMBOBOXEXITEMA item{};
    item.mask = CBEIF_TEXT;
    item.iItem = nIndex;
    item.pszText = const_cast<char*>(lpszText);
    return static_cast<int>(SendMessage(CBEM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}
