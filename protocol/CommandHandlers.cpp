// The Write and Read buttons: each turns the operator's choices into one request on the open
// connection and dumps what was sent into the log. Replies are applied whenever the receive
// worker decodes them; nothing here waits for one. (A range command may wait for a poll's
// reply before it goes: SendRangeCommand, ui/Poll_win.cpp.)
#include "protocol/DioFrame.h"
#include "protocol/DioNumberText.h"
#include "res/resource.h"
#include "ui/MainDlg.h"

#include <vector>

void CMainDlg::SendRequest(const std::uint8_t* pFrame, std::size_t nLength) {
    // Not retried and not reported: a failed send, or one the device has no room for, is
    // logged as the bare direction mark. The dump of what send took is appended before the
    // receive path can append the reply, however fast the device answers.
    m_connection.SendAndLog(pFrame, nLength);
    ScheduleApply(false);
}

int CMainDlg::ReadDioNumber(CComboBoxEx& box) const {
    return ParseDioNumber(CWnd::GetWindowText(box.GetEditCtrl()));
}

void CMainDlg::OnRowWrite(UINT nID) {
    if (!m_connection.IsOpen())
        return;
    const int row = static_cast<int>(nID) - IDC_ROW_WRITE_FIRST;
    if (row < 0 || row >= m_nDioCount)
        return;
    const int mode = GetRowMode(row);
    const int state = GetRowState(row);
    const SingleWriteFrame frame = EncodeSingleWrite(row, mode, state);
    SendRequest(frame.data(), frame.size());
}

void CMainDlg::OnRowRead(UINT nID) {
    if (!m_connection.IsOpen())
        return;
    const int row = static_cast<int>(nID) - IDC_ROW_READ_FIRST;
    if (row < 0 || row >= m_nDioCount)
        return;
    const SingleReadFrame frame = EncodeSingleRead(row);
    SendRequest(frame.data(), frame.size());
}

void CMainDlg::OnMultiRead() {
    if (!m_connection.IsOpen())
        return;
    const int start = ReadDioNumber(m_cbStartDio);
    const int end = ReadDioNumber(m_cbEndDio);
    // Sent as typed, without checks: the device decides what a range it cannot serve means.
    const MultiReadFrame frame = EncodeMultiRead(start, end);
    SendRangeCommand({frame.begin(), frame.end()}, start, true);
}

void CMainDlg::OnMultiWrite() {
    if (!m_connection.IsOpen())
        return;
    const int start = ReadDioNumber(m_cbStartDio);
    const int end = ReadDioNumber(m_cbEndDio);
    if (start < 0 || start >= m_nDioCount) {
        MessageBox("Start DIO is invalid.", nullptr, 0);
        return;
    }
    if (end < 0 || end >= m_nDioCount) {
        MessageBox("End DIO is invalid.", nullptr, 0);
        return;
    }
    if (end < start) {
        MessageBox("End DIO is less than Start DIO.", nullptr, 0);
        return;
    }
    std::vector<DioModeState> pairs;
    pairs.reserve(static_cast<std::size_t>(end - start + 1));
    for (int row = start; row <= end; ++row) {
        const int mode = GetRowMode(row);
        const int state = GetRowState(row);
        pairs.push_back({mode, state});
    }
    SendRangeCommand(EncodeMultiWrite(start, end, pairs), start, false);
}
