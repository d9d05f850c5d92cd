// The streaming decoder of the device's replies.
//
// Replies arrive as an unframed byte stream cut into chunks of any size. The frame reader finds
// the frames in it, whatever the chunking; the parser acts on code-1 and code-5 replies byte by
// byte as they arrive, consumes code-2 and code-6 replies without effect, and leaves every
// frame the reader passes over (an unknown code, other fixed bytes) alone. What it finds goes
// to a sink.
#pragma once

#include "protocol/DioFrame.h"
#include "protocol/DioFrameReader.h"

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
    // What the frame reader finds, applied to the sink.
    template <class TSink>
    struct Walker;

    // Acts on a piece of the payload of an accepted frame; offset is the index of its first
    // byte in the payload.
    template <class TSink>
    void FeedPayload(const std::uint8_t* p, std::size_t n, std::size_t offset, TSink& sink);

    // The frames: where the current one stands, and whether it is acted on or passed over.
    CDioFrameReader m_reader;
    int m_nCommand = 0; // command code of the accepted frame
    int m_nRow = 0;     // row the current payload byte refers to
};

namespace dio_reply_detail {

// Payload bytes of a code-1 reply that mean anything: DIO number, mode, state.
constexpr std::size_t SINGLE_READ_USED_BYTES = 3;

// A mode or state byte for one row. The row count is asked for at every such byte, as the rows
// may be rebuilt while a reply is arriving; a row at or beyond it is left alone.
template <class TSink>
inline void ApplyMode(std::uint8_t b, int row, TSink& sink) {
    if (row < sink.GetRowCount() && IsDioValue(b)) {
        sink.SetRowMode(row, b);
    }
}

template <class TSink>
inline void ApplyState(std::uint8_t b, int row, TSink& sink) {
    if (row < sink.GetRowCount() && IsDioValue(b)) {
        sink.SetRowState(row, b);
    }
}

// The state byte of a range reply's pair: the row advances after it whenever the row is
// within the rows, whether or not the byte was applied. Past the rows the cursor stays.
template <class TSink>
inline void ApplyRangeState(std::uint8_t b, int& row, TSink& sink) {
    if (row < sink.GetRowCount()) {
        if (IsDioValue(b)) {
            sink.SetRowState(row, b);
        }
        ++row;
    }
}

} // namespace dio_reply_detail

template <class TSink>
struct CDioReplyParser::Walker {
    CDioReplyParser& m_parser;
    TSink& m_sink;

    void OnFrameHeader(const DioFrameHeader& header) {
        if (header.IsAccepted()) {
            m_parser.m_nCommand = header.m_nCode;
        }
    }
    void OnFramePayload(const DioFrameHeader& header, const std::uint8_t* p, std::size_t n,
                        std::size_t offset) {
        if (header.IsAccepted()) {
            m_parser.FeedPayload(p, n, offset, m_sink);
        }
    }
    void OnFrameEnd(const DioFrameHeader& header) {
        // Every accepted frame with a payload ends the range request it may answer; an empty
        // one changes nothing, and a frame passed over is no reply at all.
        if (header.IsAccepted() && header.m_nLength != 0) {
            m_sink.ClearPendingStart();
        }
    }
};

template <class TSink>
DIO_ALWAYS_INLINE void CDioReplyParser::Feed(const std::uint8_t* data, std::size_t length,
                                             TSink& sink) {
    Walker<TSink> walker{*this, sink};
    m_reader.Feed(data, length, walker);
}

template <class TSink>
DIO_ALWAYS_INLINE void CDioReplyParser::FeedPayload(const std::uint8_t* p, std::size_t n,
                                                    std::size_t offset, TSink& sink) {
    using namespace dio_reply_detail;
    const std::uint8_t* const stop = p + n;
    // A working copy: the sink's calls cannot be proved to leave this object alone, so the
    // member would otherwise be reloaded after every one of them.
    int row = m_nRow;

    if (m_nCommand == DIO_CMD_SINGLE_READ) {
        // DIO number, mode, state; any further bytes are ignored.
        for (std::size_t index = offset; p != stop && index < SINGLE_READ_USED_BYTES;
             ++p, ++index) {
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
        if (offset == 0) {
            row = sink.GetPendingStart();
            if (row < 0) {
                row = 0;
            }
        }
        // A state byte whose mode came in the previous chunk.
        if ((offset & 1) != 0) {
            ApplyRangeState(*p++, row, sink);
        }
        for (; stop - p >= 2; p += 2) {
            ApplyMode(p[0], row, sink);
            ApplyRangeState(p[1], row, sink);
        }
        // A mode byte whose state is still to come (or an odd last byte).
        if (p != stop) {
            ApplyMode(*p, row, sink);
        }
    }
    // Write acknowledgements (codes 2 and 6) and the tail of a code-1 reply are only counted.
    m_nRow = row;
}
