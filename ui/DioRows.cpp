// Target models and the DIO rows: one row of label, mode, state, Write and Read per DIO,
// created at run time inside the row panel, lined up under the column headers.
#include "platform/CString.h"
#include "platform/DpiScaling.h"
#include "protocol/DioWords.h"
#include "res/resource.h"
#include "ui/MainDlg.h"
#include "ui/TargetModel.h"

namespace {
// The "Target model" popup: the first popup of the menu bar's first popup.
HMENU TargetModelMenu(HMENU hMenuBar) {
    HMENU hAppearance = hMenuBar != nullptr ? ::GetSubMenu(hMenuBar, 0) : nullptr;
    return hAppearance != nullptr ? ::GetSubMenu(hAppearance, 0) : nullptr;
}

// Deletes the row controls of one array, up to its null terminator, then the array.
template <class T>
void DiscardRowArray(T**& ppControls) {
    if (ppControls == nullptr)
        return;
    for (T** pp = ppControls; *pp != nullptr; ++pp)
        delete *pp;
    delete[] ppControls;
    ppControls = nullptr;
}

// Row-control styles: child, visible, first of a group; labels are one plain line of text, the
// rest are tab stops.
constexpr DWORD ROW_LABEL_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_SIMPLE;
constexpr DWORD ROW_COMBO_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | CBS_DROPDOWNLIST;
constexpr DWORD ROW_BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON;
} // namespace

void CMainDlg::SetupTargetModelMenu() {
    HMENU hTargetModel = TargetModelMenu(GetMenu());
    if (hTargetModel == nullptr)
        return;
    // The template holds a separator as a placeholder for the models.
    ::RemoveMenu(hTargetModel, 0, MF_BYPOSITION);
    for (int k = 0; k < TARGET_MODEL_COUNT; ++k)
        ::AppendMenuA(hTargetModel, MF_STRING, ID_TARGET_MODEL_FIRST + k,
                      g_targetModels[k].pszName);
    ::CheckMenuItem(hTargetModel, ID_TARGET_MODEL_FIRST, MF_BYCOMMAND | MF_CHECKED);
}

void CMainDlg::OnTargetModel(UINT nID) {
    const int k = static_cast<int>(nID) - ID_TARGET_MODEL_FIRST;
    if (k < 0 || k >= TARGET_MODEL_COUNT)
        return;
    // Always rebuilds, also for the model already checked and while connected.
    BuildDioRows(g_targetModels[k].nDioCount);
    // The Timeline's lanes follow; the history keeps every DIO's changes.
    m_timeline.OnLaneCountChanged();
    HMENU hTargetModel = TargetModelMenu(GetMenu());
    for (int i = 0; i < TARGET_MODEL_COUNT; ++i)
        ::CheckMenuItem(hTargetModel, ID_TARGET_MODEL_FIRST + i,
                        MF_BYCOMMAND | (i == k ? MF_CHECKED : MF_UNCHECKED));
}

void CMainDlg::DiscardDioRows() {
    DiscardRowArray(m_ppLabels);
    DiscardRowArray(m_ppModeCombos);
    DiscardRowArray(m_ppStateCombos);
    DiscardRowArray(m_ppWriteButtons);
    DiscardRowArray(m_ppReadButtons);
}

void CMainDlg::BuildDioRows(int count) {
    DiscardDioRows();

    const std::size_t slots = count > 0 ? static_cast<std::size_t>(count) + 1 : 1;
    m_ppLabels = new CStatic*[slots]();
    m_ppModeCombos = new CComboBox*[slots]();
    m_ppStateCombos = new CComboBox*[slots]();
    m_ppWriteButtons = new CButton*[slots]();
    m_ppReadButtons = new CButton*[slots]();

    // Each row control spans its column header's extent, in the panel's coordinates.
    auto columnRect = [this](const CWnd& header, int top, int bottom) {
        RECT rect;
        header.GetWindowRect(&rect);
        m_panelRows.ScreenToClient(&rect);
        rect.top = top;
        rect.bottom = bottom;
        return rect;
    };
    HFONT hFont = GetFont();
    const bool bConnected = m_connection.IsOpen();

    // The rows' figures, in pixels at 96 DPI and scaled to the screen's: a row's label stands 4
    // to 16 below its top, a selector is 100 tall with its list dropped down, a button 20.
    const RowFigures rows = ScaledRowFigures();
    const int labelTop = ScaleFrom96Dpi(4), labelBottom = ScaleFrom96Dpi(16);
    const int selectorHeight = ScaleFrom96Dpi(100), buttonHeight = ScaleFrom96Dpi(20);

    for (int r = 0; r < count; ++r) {
        const int y = rows.firstTop + rows.pitch * r;

        auto* pLabel = new CStatic;
        m_ppLabels[r] = pLabel;
        pLabel->Create(FormatString("DIO%d", r).c_str(), ROW_LABEL_STYLE,
                       columnRect(m_hdrDioNo, y + labelTop, y + labelBottom), &m_panelRows,
                       IDC_ROW_LABEL);
        pLabel->SetFont(hFont, TRUE);

        // A selector's item index is the value it stands for; item 0 starts selected.
        auto selector = [&](const CStatic& header, UINT nID, const char* item0, const char* item1) {
            auto* pCombo = new CComboBox;
            pCombo->Create(ROW_COMBO_STYLE, columnRect(header, y, y + selectorHeight), &m_panelRows,
                           nID);
            pCombo->SetFont(hFont, TRUE);
            pCombo->AddString(item0);
            pCombo->AddString(item1);
            pCombo->SetCurSel(0);
            return pCombo;
        };
        m_ppModeCombos[r] = selector(m_hdrMode, IDC_ROW_MODE_FIRST + r, DioModeWord(DIO_MODE_INPUT),
                                     DioModeWord(DIO_MODE_OUTPUT));
        m_ppStateCombos[r] = selector(m_hdrState, IDC_ROW_STATE_FIRST + r,
                                      DioStateWord(DIO_STATE_LOW), DioStateWord(DIO_STATE_HIGH));

        auto* pWrite = new CButton;
        m_ppWriteButtons[r] = pWrite;
        pWrite->Create("Write", ROW_BUTTON_STYLE, columnRect(m_colWrite, y, y + buttonHeight),
                       &m_panelRows, IDC_ROW_WRITE_FIRST + r);
        pWrite->SetFont(hFont, TRUE);

        auto* pRead = new CButton;
        m_ppReadButtons[r] = pRead;
        pRead->Create("Read", ROW_BUTTON_STYLE, columnRect(m_colRead, y, y + buttonHeight),
                      &m_panelRows, IDC_ROW_READ_FIRST + r);
        pRead->SetFont(hFont, TRUE);

        pWrite->EnableWindow(bConnected);
        pRead->EnableWindow(bConnected);
    }

    // The range lists offer the new rows' numbers.
    while (m_cbStartDio.DeleteItem(0) != -1) {
    }
    while (m_cbEndDio.DeleteItem(0) != -1) {
    }
    for (int j = 0; j < count; ++j) {
        const CString number = FormatString("%d", j);
        m_cbStartDio.InsertItem(j, number.c_str());
        m_cbEndDio.InsertItem(j, number.c_str());
    }
    m_cbStartDio.SetCurSel(0);
    m_cbEndDio.SetCurSel(0);

    m_nDioCount = count;
    // The new rows stand at their unscrolled places.
    m_nScrollPos = 0;
    UpdateRowScroll();
}

int CMainDlg::GetRowMode(int r) const {
    return m_ppModeCombos[r]->GetCurSel();
}

int CMainDlg::GetRowState(int r) const {
    return m_ppStateCombos[r]->GetCurSel();
}

// Called on the interface thread only. The receive worker's updates come through the receive
// path's hand-off instead (ApplyRowUpdates), so they can never reach a row that a model change
// has destroyed.
void CMainDlg::SetRowMode(int r, int v) {
    m_ppModeCombos[r]->SetCurSel(v);
}

void CMainDlg::SetRowState(int r, int v) {
    m_ppStateCombos[r]->SetCurSel(v);
}

void CMainDlg::ApplyRowUpdates(CRowUpdateBatch& updates) {
    auto select = [](CComboBox* pCombo, int value) {
        if (value != CRowUpdateBatch::NONE && pCombo->GetCurSel() != value)
            pCombo->SetCurSel(value);
    };
    updates.Drain([&](int row, int mode, int state) {
        // Rows beyond the current row count are dropped: the model changed meanwhile.
        if (row < 0 || row >= m_nDioCount)
            return;
        select(m_ppModeCombos[row], mode);
        select(m_ppStateCombos[row], state);
    });
}

void CMainDlg::EnableRowButtons(bool bEnable) {
    for (CButton** pp = m_ppWriteButtons; pp != nullptr && *pp != nullptr; ++pp)
        (*pp)->EnableWindow(bEnable);
    for (CButton** pp = m_ppReadButtons; pp != nullptr && *pp != nullptr; ++pp)
        (*pp)->EnableWindow(bEnable);
}
