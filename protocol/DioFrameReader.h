// Cuts a stream of DIO frames, received in chunks of any size, into frames.
//
// A frame is four header bytes (code, the fixed bytes 02 00, payload length) and as many
// payload bytes as its length byte says, whatever its code and fixed bytes hold: the length
// byte is always honoured. A frame of an unknown code, or with other fixed bytes, is read whole
// all the same and marked with why it is to be passed over. There is no search for a good
// header: a stray byte shifts the framing until some length byte happens to realign it, and
// every side of the connection frames the stream the same way.
//
// Two ways to read, one per reader:
//   Feed       the frame as it arrives: its header, then its payload in the pieces the chunks
//              hold (no copy), then its end. The reply parser acts on each byte as it comes.
//   ReadFrames whole frames, each once its last byte is in (a frame split between chunks is
//              put together in the reader; one in a single chunk is not copied).
#pragma once

#include "protocol/DioCommand.h"
#include "protocol/DioFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

// For the few functions on the path of every received byte: inlined into their caller even
// where the compiler would not choose to, so that a sink's calls are resolved at compile time.
#if defined(_MSC_VER)
#define DIO_ALWAYS_INLINE __forceinline
#else
#define DIO_ALWAYS_INLINE inline __attribute__((always_inline))
#endif

// Why a frame is passed over rather than acted on.
enum class DioFrameFault : std::uint8_t {
    None,         // a known command with the fixed bytes 02 00
    UnknownCode,  // the code is no command's
    BadFixedBytes // a known command, but the bytes after the code are not 02 00
};

// "unknown code", "fixed bytes not 02 00"; "" for None.
const char* DescribeDioFrameFault(DioFrameFault fault);

struct DioFrameHeader {
    std::uint8_t m_nCode = 0;
    std::uint8_t m_nFixed1 = 0;
    std::uint8_t m_nFixed2 = 0;
    std::uint8_t m_nLength = 0; // payload bytes
    DioFrameFault m_fault = DioFrameFault::None;

    bool IsAccepted() const { return m_fault == DioFrameFault::None; }
    std::size_t FrameSize() const { return DIO_FRAME_HEADER_SIZE + std::size_t{m_nLength}; }
};

constexpr DioFrameFault JudgeDioFrame(std::uint8_t code, std::uint8_t fixed1, std::uint8_t fixed2) {
    if (!IsDioCommandCode(code)) {
        return DioFrameFault::UnknownCode;
    }
    return fixed1 == DIO_FRAME_FIXED1 && fixed2 == DIO_FRAME_FIXED2 ? DioFrameFault::None
                                                                    : DioFrameFault::BadFixedBytes;
}

// A whole frame; the payload is valid during the call that hands it over.
struct DioFrameView {
    DioFrameHeader m_header;
    std::span<const std::uint8_t> m_payload;
};

// The frame's bytes as they came: header, then payload.
std::vector<std::uint8_t> DioFrameBytes(const DioFrameView& frame);

class CDioFrameReader {
public:
    // Hands the frames in the bytes to handler as they arrive, in stream order. For every frame:
    //   handler.OnFrameHeader(header)                   once its length byte is in;
    //   handler.OnFramePayload(header, data, n, offset) for each piece of its payload that this
    //                                                   chunk holds (offset: the piece's place
    //                                                   in the payload), none for an empty one;
    //   handler.OnFrameEnd(header)                      once its last byte is in.
    // Constant work per byte, no allocation, no copy.
    template <class THandler>
    void Feed(const std::uint8_t* data, std::size_t length, THandler& handler);

    // Calls onFrame(const DioFrameView&) for every frame the bytes complete, passed over or not.
    template <class TOnFrame>
    void ReadFrames(const std::uint8_t* data, std::size_t length, TOnFrame&& onFrame);

    // Bytes of a frame begun and not yet complete (0 between frames).
    std::size_t PendingBytes() const {
        return m_nHeaderBytes < DIO_FRAME_HEADER_SIZE ? m_nHeaderBytes
                                                      : DIO_FRAME_HEADER_SIZE + m_nPayloadDone;
    }

private:
    template <class TOnFrame>
    struct Assembler;

    DioFrameHeader m_header;
    std::size_t m_nHeaderBytes = 0; // header bytes of the current frame read so far
    std::size_t m_nPayloadDone = 0; // payload bytes of the current frame read so far
    // The payload of a frame that ReadFrames got in more than one piece.
    std::array<std::uint8_t, 255> m_payload{};
    const std::uint8_t* m_pWholePayload = nullptr; // one that came in one piece
};

template <class THandler>
DIO_ALWAYS_INLINE void CDioFrameReader::Feed(const std::uint8_t* data, std::size_t length,
                                             THandler& handler) {
    if (data == nullptr) {
        return;
    }
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + length;
    while (p != end) {
        if (m_nHeaderBytes == 0 && end - p >= DIO_FRAME_HEADER_SIZE &&
            static_cast<std::size_t>(end - p) >= DIO_FRAME_HEADER_SIZE + std::size_t{p[3]}) {
            // A whole frame in this chunk, the common case: read from the chunk alone, without
            // going through the reader's state.
            DioFrameHeader header;
            header.m_nCode = p[0];
            header.m_nFixed1 = p[1];
            header.m_nFixed2 = p[2];
            header.m_nLength = p[3];
            header.m_fault = JudgeDioFrame(p[0], p[1], p[2]);
            p += DIO_FRAME_HEADER_SIZE;
            handler.OnFrameHeader(header);
            if (header.m_nLength != 0) {
                handler.OnFramePayload(header, p, header.m_nLength, 0);
                p += header.m_nLength;
            }
            handler.OnFrameEnd(header);
            continue;
        }
        if (m_nHeaderBytes < DIO_FRAME_HEADER_SIZE) {
            if (m_nHeaderBytes == 0 && end - p >= DIO_FRAME_HEADER_SIZE) {
                // The whole header is in this chunk: its four bytes at once.
                m_header.m_nCode = p[0];
                m_header.m_nFixed1 = p[1];
                m_header.m_nFixed2 = p[2];
                m_header.m_nLength = p[3];
                p += DIO_FRAME_HEADER_SIZE;
            } else {
                const std::uint8_t b = *p++;
                switch (m_nHeaderBytes++) {
                case 0:
                    m_header.m_nCode = b;
                    continue;
                case 1:
                    m_header.m_nFixed1 = b;
                    continue;
                case 2:
                    m_header.m_nFixed2 = b;
                    continue;
                default:
                    m_header.m_nLength = b;
                    break;
                }
            }
            m_header.m_fault =
                JudgeDioFrame(m_header.m_nCode, m_header.m_nFixed1, m_header.m_nFixed2);
            m_nHeaderBytes = DIO_FRAME_HEADER_SIZE;
            m_nPayloadDone = 0;
            handler.OnFrameHeader(m_header);
            if (m_header.m_nLength == 0) {
                m_nHeaderBytes = 0;
                handler.OnFrameEnd(m_header);
                continue;
            }
            if (p == end) {
                break;
            }
        }
        const std::size_t left = m_header.m_nLength - m_nPayloadDone;
        const std::size_t available = static_cast<std::size_t>(end - p);
        const std::size_t take = left < available ? left : available;
        const std::size_t offset = m_nPayloadDone;
        m_nPayloadDone += take;
        const bool complete = m_nPayloadDone == m_header.m_nLength;
        if (complete) {
            m_nHeaderBytes = 0;
        }
        handler.OnFramePayload(m_header, p, take, offset);
        p += take;
        if (complete) {
            handler.OnFrameEnd(m_header);
        }
    }
}

template <class TOnFrame>
struct CDioFrameReader::Assembler {
    CDioFrameReader& m_reader;
    TOnFrame& m_onFrame;

    void OnFrameHeader(const DioFrameHeader&) { m_reader.m_pWholePayload = nullptr; }
    void OnFramePayload(const DioFrameHeader& header, const std::uint8_t* data, std::size_t n,
                        std::size_t offset) {
        if (offset == 0 && n == header.m_nLength) {
            m_reader.m_pWholePayload = data;
        } else {
            std::memcpy(m_reader.m_payload.data() + offset, data, n);
        }
    }
    void OnFrameEnd(const DioFrameHeader& header) {
        const std::uint8_t* payload = m_reader.m_pWholePayload != nullptr
                                          ? m_reader.m_pWholePayload
                                          : m_reader.m_payload.data();
        m_reader.m_pWholePayload = nullptr;
        m_onFrame(DioFrameView{header, {payload, header.m_nLength}});
    }
};

template <class TOnFrame>
void CDioFrameReader::ReadFrames(const std::uint8_t* data, std::size_t length, TOnFrame&& onFrame) {
    Assembler<TOnFrame> assembler{*this, onFrame};
    Feed(data, length, assembler);
}
