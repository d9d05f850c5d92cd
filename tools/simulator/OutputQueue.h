// The frames waiting to be sent to the client, in order, each whole before the next begins.
//
// A frame may not leave before its due time (the answer delay), goes out in the pieces it was
// cut into, and waits its piece gap between two of its pieces. The socket may take less than a
// piece; the rest goes next time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

using SimClock = std::chrono::steady_clock;

// The most frames the simulator lets wait for one client. Requests are answered only while
// their answers fit; toggle reports that find the queue full are coalesced.
constexpr std::size_t SIM_MAX_QUEUED_FRAMES = 4096;

enum class SimFrameKind {
    Reply,  // the answer to a request
    Junk,   // a frame of an unknown code, ahead of an answer
    Report, // an unsolicited code-1 report of an input level change
    Flood   // a batch of flood reports
};

struct SimOutgoing {
    std::vector<std::uint8_t> m_vecBytes;
    std::vector<std::size_t> m_vecPieces; // piece sizes, summing to the frame's size
    SimFrameKind m_kind = SimFrameKind::Reply;
    std::string m_strNote;                   // shown on the console with the frame's dump
    SimClock::time_point m_timeDue{};        // the first byte may not leave earlier
    std::chrono::milliseconds m_pieceGap{0}; // the pause between two of its pieces
};

class COutputQueue {
public:
    // An empty piece list means one piece; a frame without bytes is dropped.
    void Push(SimOutgoing frame);

    bool IsEmpty() const { return m_frames.empty(); }
    std::size_t Count() const { return m_frames.size(); }

    // The front and the back frame; only when not empty.
    const SimOutgoing& Front() const { return m_frames.front(); }
    const SimOutgoing& Back() const { return m_frames.back(); }
    // True while no byte of the front frame has been sent.
    bool IsFrontUnsent() const { return m_nPiece == 0 && m_nOffset == 0; }

    // When the next byte may leave; only when not empty.
    SimClock::time_point NextDue() const;
    // What may be sent at now: the rest of the current piece, or nothing before it is due.
    std::span<const std::uint8_t> Ready(SimClock::time_point now) const;
    // The front frames that may go at now in one send: each due, in one piece and unsent, their
    // bytes together in out, no more than maxBytes unless the first alone is. Returns how many
    // (0 when the front frame is partly sent or cut into pieces; out is left alone when only
    // one frame is queued).
    std::size_t GatherWhole(SimClock::time_point now, std::size_t maxBytes,
                            std::vector<std::uint8_t>& out) const;
    // Records that the first count bytes of Ready() left at now. Returns true when that
    // completed the front frame, which is then removed.
    bool Consume(std::size_t count, SimClock::time_point now);

private:
    std::deque<SimOutgoing> m_frames;
    std::size_t m_nPiece = 0;              // current piece of the front frame
    std::size_t m_nOffset = 0;             // bytes of the front frame already sent
    std::size_t m_nPieceEnd = 0;           // offset where the current piece ends
    SimClock::time_point m_timePieceDue{}; // gap after the previous piece of the front frame
};
