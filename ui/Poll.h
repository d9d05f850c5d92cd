// Polling the device: the intervals the Device > Poll menu offers, and the gate that keeps a
// poll's range read and the operator's range commands from landing on each other's rows. The
// dialog's side (the menu, the timer, sending) is ui/Poll_win.cpp.
//
// A poll reads every row with one range read from row 0. A range reply names no DIO: it lands
// on consecutive rows from the pending range start, which every range command sets and every
// reply frame clears. A poll's reply lands right either way (none pending means row 0), as
// long as no other range command has set another start meanwhile; and the operator's range
// Read lands right as long as no poll has set 0 meanwhile. So a poll goes only while no range
// reply is awaited at all, and the operator's range commands wait while a poll's reply is
// awaited. A reply that never comes is given up after a while, so that neither side waits
// for ever.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

// The Poll menu's intervals in its order, in milliseconds; 0 is Off.
inline constexpr std::array<int, 7> POLL_INTERVALS_MS{0, 100, 250, 500, 1000, 2000, 5000};

class CPollGate {
public:
    using Clock = std::chrono::steady_clock;
    // How long a range read's reply is waited for.
    static constexpr Clock::duration REPLY_WAIT = std::chrono::seconds(2);

    // Forgets everything awaited: the connection ended.
    void Reset();
    // The receive path has decoded this many range-read replies in all (a count that only
    // grows, over all connections).
    void RangeRepliesDecoded(std::uint64_t total);

    // A poll tick: true when a poll may be sent now, which is then taken as sent. False while
    // any range reply is awaited (the tick is skipped).
    bool StartPoll(Clock::time_point now);
    // Whether an operator's range command must wait now: a poll's reply is awaited.
    bool MustHold(Clock::time_point now);
    // When what is held may go at the latest: the awaited poll is given up then.
    Clock::time_point HoldEnds() const { return m_lastSent + REPLY_WAIT; }
    // The operator's range Read went out: its reply is awaited too.
    void RangeReadSent(Clock::time_point now);

private:
    // Gives up what was awaited too long.
    void Expire(Clock::time_point now);

    std::uint64_t m_nDecoded = 0;
    int m_nAwaited = 0;
    bool m_bPollAwaited = false;
    Clock::time_point m_lastSent{};
};
