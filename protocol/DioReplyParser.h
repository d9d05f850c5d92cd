// The streaming decoder of the device's replies.
//
// Replies arrive as an unframed byte stream cut into chunks of any size. The parser walks it
// one byte at a time with a state machine that survives from chunk to chunk, acts on code-1
// and code-5 replies, consumes code-2 and code-6 replies without effect and skips every other
// frame whole by its length byte. What it finds goes to a sink.
#pragma once

#include "protocol/DioFrame.h"

#include <cstddef>
#include <cstdint>

// Whatever owns the DIO rows. Every call comes from the thread that calls Feed.
class CDioReplySink {
public:
    virtual ~CDioReplySink() = default;

    // The number of DIO rows; read afresh at every row check.
    virtual int GetRowCount() = 0;
    // The start DIO of the last range request, -1 when none is pending; read at the first
    // payload byte of a code-5 reply.
    virtual int GetPendingStart() = 0;
    // Makes the pending range start -1; called at the end of every accepted reply frame with
    // a non-empty payload.
    virtual void ClearPendingStart() = 0;
    // row is within the row count just read, value is 0 ("Input") or 1 ("Output").
    virtual void SetRowMode(int row, int value) = 0;
    // row is within the row count just read, value is 0 ("Low") or 1 ("High").
    virtual void SetRowState(int row, int value) = 0;
};

class CDioReplyParser {
public:
    // Processes the bytes in order, calling the sink as it goes. Constant work per byte, no
    // allocation, no copy of the chunk. A frame may be split anywhere between two calls.
    //
    // TSink is CDioReplySink or a class derived from it. Given a sink class whose operations
    // are final, the calls are direct and can be inlined: that is how the program's own sink
    // keeps a flood of range replies cheap.
    template <class TSink>
    void Feed(const std::uint8_t* data, std::size_t length, TSink& sink);

private:
    // Handles the payload bytes of the accepted frame that this chunk holds, from p on, and
    // returns where the frame's payload ends in the chunk (or the chunk's end).
    template <class TSink>
    const std::uint8_t* FeedPayload(const std::uint8_t* p, const std::uint8_t* end, TSink& sink);
    // Passes over the payload bytes of a skipped frame that this chunk holds.
    const std::uint8_t* SkipPayload(const std::uint8_t* p, const std::uint8_t* end);

    // Position in the current frame: 0 between frames, 1..4 for the fixed bytes, the length
    // and the payload of a frame being acted on, -1..-4 for the same places in a frame being
    // skipped.
    int m_nState = 0;
    int m_nRemaining = 0;    // payload bytes still to come
    int m_nPayloadIndex = 0; // index of the current payload byte of an accepted frame
    int m_nCommand = 0;      // command code of the accepted frame
    int m_nRow = 0;          // row the current payload byte refers to
};

namespace dio_reply_detail {

// States of the frame walk. The magnitude is the position in the frame, the sign says whether
// the frame is acted on (positive) or skipped (negative).
constexpr int STATE_COMMAND = 0;
constexpr int STATE_FIXED1 = 1;
constexpr int STATE_FIXED2 = 2;
constexpr int STATE_LENGTH = 3;
constexpr int STATE_PAYLOAD = 4;
constexpr int STATE_SKIP_FIXED1 = -1;
constexpr int STATE_SKIP_FIXED2 = -2;
constexpr int STATE_SKIP_LENGTH = -3;
constexpr int STATE_SKIP_PAYLOAD = -4;

// Payload bytes of a code-1 reply that mean anything: DIO number, mode, state.
constexpr int SINGLE_READ_USED_BYTES = 3;

constexpr bool IsReplyCode(std::uint8_t b) {
    return b == DIO_CMD_SINGLE_READ || b == DIO_CMD_SINGLE_WRITE || b == DIO_CMD_MULTI_READ ||
           b == DIO_CMD_MULTI_WRITE;
}

// A mode or state byte takes effect only when it is 0 or 1.
constexpr bool IsSelectorValue(std::uint8_t b) {
    return b <= 1;
}

// A mode or state byte for one row. The row count is asked for at every such byte, as the rows
// may be rebuilt while a reply is arriving; a row at or beyond it is left alone.
template <class TSink>
inline void ApplyMode(std::uint8_t b, int row, TSink& sink) {
    if (row < sink.GetRowCount() && IsSelectorValue(b)) {
        sink.SetRowMode(row, b);
    }
}

template <class TSink>
inline void ApplyState(std::uint8_t b, int row, TSink& sink) {
    if (row < sink.GetRowCount() && IsSelectorValue(b)) {
        sink.SetRowState(row, b);
    }
}

// The state byte of a range reply's pair: the row advances after it whenever the row is
// within the rows, whether or not the byte was applied. Past the rows the cursor stays.
template <class TSink>
inline void ApplyRangeState(std::uint8_t b, int& row, TSink& sink) {
    if (row < sink.GetRowCount()) {
        if (IsSelectorValue(b)) {
            sink.SetRowState(row, b);
        }
        ++row;
    }
}

} // namespace dio_reply_detail

template <class TSink>
void CDioReplyParser::Feed(const std::uint8_t* data, std::size_t length, TSink& sink) {
    using namespace dio_reply_detail;
    if (data == nullptr) {
        return;
    }
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + length;

    while (p != end) {
        if (m_nState == STATE_COMMAND && end - p >= DIO_FRAME_HEADER_SIZE) {
            // The whole header is in this chunk: take its four bytes at once. Accepted or not,
            // the frame's payload length is the byte at offset 3.
            const std::uint8_t code = p[0];
            const std::uint8_t size = p[3];
            const bool accepted =
                IsReplyCode(code) && p[1] == DIO_FRAME_FIXED1 && p[2] == DIO_FRAME_FIXED2;
            p += DIO_FRAME_HEADER_SIZE;
            if (size == 0) {
                // An empty payload changes nothing, not even the pending range start.
                continue;
            }
            if (accepted && (code == DIO_CMD_SINGLE_WRITE || code == DIO_CMD_MULTI_WRITE) &&
                static_cast<std::size_t>(end - p) >= size) {
                // A whole write acknowledgement: nothing in it but its end.
                m_nCommand = code;
                p += size;
                sink.ClearPendingStart();
                continue;
            }
            if (accepted && code == DIO_CMD_SINGLE_READ && size >= SINGLE_READ_USED_BYTES &&
                static_cast<std::size_t>(end - p) >= size) {
                // A whole single-read reply: DIO number, mode and state, then its end.
                m_nCommand = code;
                const int row = p[0];
                m_nRow = row;
                ApplyMode(p[1], row, sink);
                ApplyState(p[2], row, sink);
                p += size;
                sink.ClearPendingStart();
                continue;
            }
            m_nRemaining = size;
            if (accepted) {
                m_nCommand = code;
                m_nPayloadIndex = 0;
                m_nState = STATE_PAYLOAD;
                p = FeedPayload(p, end, sink);
            } else {
                m_nState = STATE_SKIP_PAYLOAD;
                p = SkipPayload(p, end);
            }
            continue;
        }

        // A header split between chunks, and payloads, go on from where the last byte left
        // them.
        switch (m_nState) {
        case STATE_COMMAND: {
            const std::uint8_t b = *p++;
            if (IsReplyCode(b)) {
                m_nCommand = b;
                m_nState = STATE_FIXED1;
            } else {
                // An unknown code still starts a frame: it is skipped by its length byte.
                m_nState = STATE_SKIP_FIXED1;
            }
            break;
        }
        case STATE_FIXED1:
            m_nState = *p++ == DIO_FRAME_FIXED1 ? STATE_FIXED2 : STATE_SKIP_FIXED2;
            break;
        case STATE_FIXED2:
            m_nState = *p++ == DIO_FRAME_FIXED2 ? STATE_LENGTH : STATE_SKIP_LENGTH;
            break;
        case STATE_LENGTH: {
            const std::uint8_t b = *p++;
            m_nPayloadIndex = 0;
            m_nRemaining = b;
            // An empty payload changes nothing, not even the pending range start.
            m_nState = b != 0 ? STATE_PAYLOAD : STATE_COMMAND;
            break;
        }
        case STATE_PAYLOAD:
            p = FeedPayload(p, end, sink);
            break;
        case STATE_SKIP_FIXED1:
            ++p;
            m_nState = STATE_SKIP_FIXED2;
            break;
        case STATE_SKIP_FIXED2:
            ++p;
            m_nState = STATE_SKIP_LENGTH;
            break;
        case STATE_SKIP_LENGTH: {
            const std::uint8_t b = *p++;
            m_nRemaining = b;
            m_nState = b != 0 ? STATE_SKIP_PAYLOAD : STATE_COMMAND;
            break;
        }
        case STATE_SKIP_PAYLOAD:
            p = SkipPayload(p, end);
            break;
        default:
            // Not reachable; start over between frames rather than stall.
            m_nState = STATE_COMMAND;
            break;
        }
    }
}

inline const std::uint8_t* CDioReplyParser::SkipPayload(const std::uint8_t* p,
                                                        const std::uint8_t* end) {
    using namespace dio_reply_detail;
    const std::size_t available = static_cast<std::size_t>(end - p);
    const std::size_t remaining = static_cast<std::size_t>(m_nRemaining);
    const std::size_t take = remaining < available ? remaining : available;
    m_nRemaining -= static_cast<int>(take);
    if (m_nRemaining == 0) {
        m_nState = STATE_COMMAND;
    }
    return p + take;
}

template <class TSink>
const std::uint8_t* CDioReplyParser::FeedPayload(const std::uint8_t* p, const std::uint8_t* end,
                                                 TSink& sink) {
    using namespace dio_reply_detail;
    const std::size_t available = static_cast<std::size_t>(end - p);
    const std::size_t remaining = static_cast<std::size_t>(m_nRemaining);
    const std::size_t take = remaining < available ? remaining : available;
    const std::uint8_t* const stop = p + take;

    // Working copies: the sink's calls cannot be proved to leave this object alone, so the
    // members would otherwise be reloaded after every one of them.
    int index = m_nPayloadIndex;
    int row = m_nRow;

    if (m_nCommand == DIO_CMD_SINGLE_READ) {
        // DIO number, mode, state; any further bytes are ignored.
        for (; p != stop && index < SINGLE_READ_USED_BYTES; ++p, ++index) {
            const std::uint8_t b = *p;
            if (index == 0) {
                row = b;
            } else if (index == 1) {
                ApplyMode(b, row, sink);
            } else {
                ApplyState(b, row, sink);
            }
        }
    } else if (m_nCommand == DIO_CMD_MULTI_READ && p != stop) {
        // (mode, state) pairs for consecutive rows from the pending range start, taken at the
        // first payload byte; none pending means row 0.
        if (index == 0) {
            row = sink.GetPendingStart();
            if (row < 0) {
                row = 0;
            }
        }
        // A state byte whose mode came in the previous chunk.
        if ((index & 1) != 0) {
            ApplyRangeState(*p++, row, sink);
            ++index;
        }
        for (; stop - p >= 2; p += 2, index += 2) {
            ApplyMode(p[0], row, sink);
            ApplyRangeState(p[1], row, sink);
        }
        // A mode byte whose state is still to come (or an odd last byte).
        if (p != stop) {
            ApplyMode(*p++, row, sink);
            ++index;
        }
    }
    // Write acknowledgements (codes 2 and 6) and the tail of a code-1 reply are only counted.
    index += static_cast<int>(stop - p);

    m_nPayloadIndex = index;
    m_nRow = row;
    m_nRemaining -= static_cast<int>(take);
    if (m_nRemaining == 0) {
        m_nState = STATE_COMMAND;
        sink.ClearPendingStart();
    }
    return stop;
}
