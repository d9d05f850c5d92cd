// The frames waiting to be sent to the client.
#include "tools/simulator/OutputQueue.h"

#include <algorithm>
#include <numeric>

void COutputQueue::Push(SimOutgoing frame) {
    if (frame.m_vecBytes.empty()) {
        return;
    }
    const std::size_t total =
        std::accumulate(frame.m_vecPieces.begin(), frame.m_vecPieces.end(), std::size_t{0});
    const bool piecesValid = total == frame.m_vecBytes.size() &&
                             std::find(frame.m_vecPieces.begin(), frame.m_vecPieces.end(),
                                       std::size_t{0}) == frame.m_vecPieces.end();
    if (!piecesValid) {
        frame.m_vecPieces = {frame.m_vecBytes.size()};
    }
    m_frames.push_back(std::move(frame));
    if (m_frames.size() == 1) {
        m_nPiece = 0;
        m_nOffset = 0;
        m_nPieceEnd = m_frames.front().m_vecPieces.front();
        m_timePieceDue = SimClock::time_point{};
    }
}

SimClock::time_point COutputQueue::NextDue() const {
    return std::max(m_frames.front().m_timeDue, m_timePieceDue);
}

std::span<const std::uint8_t> COutputQueue::Ready(SimClock::time_point now) const {
    if (m_frames.empty() || now < NextDue()) {
        return {};
    }
    const std::vector<std::uint8_t>& bytes = m_frames.front().m_vecBytes;
    return std::span<const std::uint8_t>(bytes.data() + m_nOffset, m_nPieceEnd - m_nOffset);
}

std::size_t COutputQueue::GatherWhole(SimClock::time_point now, std::size_t maxBytes,
                                      std::vector<std::uint8_t>& out) const {
    out.clear();
    if (!IsFrontUnsent()) {
        return 0;
    }
    // One frame alone is sent from where it is.
    if (m_frames.size() < 2) {
        return m_frames.empty() || m_frames.front().m_timeDue > now ? 0 : 1;
    }
    std::size_t count = 0;
    for (const SimOutgoing& frame : m_frames) {
        if (frame.m_vecPieces.size() != 1 || frame.m_timeDue > now ||
            (count > 0 && out.size() + frame.m_vecBytes.size() > maxBytes)) {
            break;
        }
        out.insert(out.end(), frame.m_vecBytes.begin(), frame.m_vecBytes.end());
        ++count;
    }
    return count;
}

bool COutputQueue::Consume(std::size_t count, SimClock::time_point now) {
    if (m_frames.empty()) {
        return false;
    }
    m_nOffset = std::min(m_nOffset + count, m_nPieceEnd);
    if (m_nOffset < m_nPieceEnd) {
        return false;
    }
    const SimOutgoing& front = m_frames.front();
    if (m_nOffset < front.m_vecBytes.size()) {
        // The next piece of the same frame, after the gap.
        ++m_nPiece;
        m_nPieceEnd += front.m_vecPieces[m_nPiece];
        m_timePieceDue = now + front.m_pieceGap;
        return false;
    }
    m_frames.pop_front();
    m_nPiece = 0;
    m_nOffset = 0;
    m_timePieceDue = SimClock::time_point{};
    m_nPieceEnd = m_frames.empty() ? 0 : m_frames.front().m_vecPieces.front();
    return true;
}
