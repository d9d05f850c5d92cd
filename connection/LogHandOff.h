// Log text on its way from whoever produced it (the receive worker, the command handlers, the
// connection's own lines) to the log pane, which the interface thread fills at its own pace.
//
// It keeps only what the pane could still show: once more than that waits, the oldest
// appends go, so a device that talks faster than the pane can draw costs bounded memory and
// no backlog. The pane learns that text went missing before what it takes next: everything
// it shows is then older than the gap, so it starts afresh and stays one contiguous tail.
//
// Not locked: the receive path guards it together with the row updates it hands over.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

// Sees every append on its way to the hand-off, in order and whole, before the hand-off
// drops anything for the pane (a record of the whole session, for instance). Called with the
// receive path's lock held, on whichever thread appends: it must not wait for the interface
// thread.
class ILogTap {
public:
    virtual void OnLogAppend(std::string_view text) = 0;
    // The log is being cleared: what follows starts a new record.
    virtual void OnLogClear() = 0;

protected:
    ~ILogTap() = default;
};

class CLogHandOff {
public:
    // keepChars: the most the pane could show; at least that much of the newest text is kept.
    explicit CLogHandOff(std::size_t keepChars) : m_nKeepChars(keepChars) {}

    // Every append passes here first: puts a non-empty linePrefix (the time, when timestamps
    // are on) at the start of each line that text starts (not the rest of a line an earlier
    // append left open), and notes whether text leaves its own last line open.
    std::string StartLines(std::string text, std::string_view linePrefix);
    // Adds one append (whole lines, or a bare direction mark) after everything waiting.
    void Append(std::string text);
    // Moves whole appends, oldest first, into out (which it empties first) until it holds at
    // least maxChars or nothing is left. Answers whether text was dropped ahead of them since
    // the last take.
    bool Take(std::string& out, std::size_t maxChars);
    // Drops everything waiting; the next take starts afresh without a gap, on a new line.
    void Clear();

    bool Empty() const { return m_pieces.empty(); }
    std::size_t Chars() const { return m_nChars; }

private:
    const std::size_t m_nKeepChars;
    std::deque<std::string> m_pieces;
    std::size_t m_nChars = 0;
    bool m_bGap = false;
    bool m_bAtLineStart = true; // the last append ended its line
};
