// The dialog's side of polling: Device > Poll, the poll timer, and the operator's range
// commands, which wait while a poll's reply is awaited (see ui/Poll.h).
#include "protocol/DioFrame.h"
#include "res/resource.h"
#include "ui/MainDlg.h"

namespace {
std::chrono::steady_clock::time_point Now() {
    return std::chrono::steady_clock::now();
}
} // namespace

void CMainDlg::OnPollInterval(UINT nID) {
    const int k = static_cast<int>(nID) - ID_POLL_FIRST;
    if (k < 0 || k >= static_cast<int>(POLL_INTERVALS_MS.size()))
        return;
    m_nPollIntervalMs = POLL_INTERVALS_MS[static_cast<std::size_t>(k)];
    ::CheckMenuRadioItem(GetMenu(), ID_POLL_FIRST, ID_POLL_LAST, nID, MF_BYCOMMAND);
    if (m_connection.IsOpen() && !m_connection.EndWasAsked())
        StartPolling();
}

void CMainDlg::StartPolling() {
    ::KillTimer(m_hWnd, POLL_TIMER);
    if (m_nPollIntervalMs > 0)
        ::SetTimer(m_hWnd, POLL_TIMER, static_cast<UINT>(m_nPollIntervalMs), nullptr);
}

void CMainDlg::StopPolling() {
    ::KillTimer(m_hWnd, POLL_TIMER);
    ::KillTimer(m_hWnd, RANGE_HOLD_TIMER);
    // Nothing more can be sent on this connection, and no reply of it is awaited.
    m_heldRange.clear();
    m_pollGate.Reset();
}

void CMainDlg::OnPollTick() {
    if (!m_connection.IsOpen())
        return;
    UpdatePollGate();
    // Skipped while the last poll's reply, or an operator's range reply, is awaited.
    if (!m_pollGate.StartPoll(Now()))
        return;
    const int count = m_nDioCount;
    const MultiReadFrame frame = EncodeMultiRead(0, count - 1);
    m_nPendingStart = 0;
    SendRequest(frame.data(), frame.size());
}

void CMainDlg::SendRangeCommand(std::vector<std::uint8_t> frame, int start, bool bRead) {
    const auto now = Now();
    if (m_pollGate.MustHold(now) || !m_heldRange.empty()) {
        m_heldRange.push_back({std::move(frame), start, bRead});
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_pollGate.HoldEnds() - now);
        ::SetTimer(m_hWnd, RANGE_HOLD_TIMER,
                   static_cast<UINT>(std::max<std::chrono::milliseconds::rep>(wait.count(), 1)),
                   nullptr);
        return;
    }
    // Recorded before sending, so the reply can never arrive before its range start is known.
    m_nPendingStart = start;
    SendRequest(frame.data(), frame.size());
    if (bRead)
        m_pollGate.RangeReadSent(now);
}

void CMainDlg::UpdatePollGate() {
    m_pollGate.RangeRepliesDecoded(m_connection.RangeRepliesDecoded());
    if (m_heldRange.empty() || m_pollGate.MustHold(Now()))
        return;
    ::KillTimer(m_hWnd, RANGE_HOLD_TIMER);
    std::deque<HeldRangeCommand> held;
    held.swap(m_heldRange);
    for (HeldRangeCommand& command : held) {
        if (m_connection.IsOpen())
            SendRangeCommand(std::move(command.frame), command.start, command.bRead);
    }
}
