#include "ui/Poll.h"

void CPollGate::Reset() {
    m_nAwaited = 0;
    m_bPollAwaited = false;
}

void CPollGate::RangeRepliesDecoded(std::uint64_t total) {
    if (total <= m_nDecoded)
        return;
    const std::uint64_t arrived = total - m_nDecoded;
    m_nDecoded = total;
    // Range reads are in flight one kind at a time, so the next replies are theirs; one that
    // was given up may still come, and counts for nothing.
    m_nAwaited = arrived >= static_cast<std::uint64_t>(m_nAwaited)
                     ? 0
                     : m_nAwaited - static_cast<int>(arrived);
    if (m_nAwaited == 0)
        m_bPollAwaited = false;
}

bool CPollGate::StartPoll(Clock::time_point now) {
    Expire(now);
    if (m_nAwaited > 0)
        return false;
    m_nAwaited = 1;
    m_bPollAwaited = true;
    m_lastSent = now;
    return true;
}

bool CPollGate::MustHold(Clock::time_point now) {
    Expire(now);
    return m_bPollAwaited;
}

void CPollGate::RangeReadSent(Clock::time_point now) {
    Expire(now);
    ++m_nAwaited;
    m_lastSent = now;
}

void CPollGate::Expire(Clock::time_point now) {
    if (m_nAwaited > 0 && now - m_lastSent >= REPLY_WAIT) {
        m_nAwaited = 0;
        m_bPollAwaited = false;
    }
}
