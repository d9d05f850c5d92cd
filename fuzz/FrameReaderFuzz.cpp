// Fuzz target for the frame reader, and the reply parser on top of it against the parser's
// rules written out as a plain state table (ReferenceReplyParser.h).
//
// Input layout as for the reply parser's target: byte 0 picks the row count, byte 1 the
// pending range start, byte 2 the largest chunk size, byte 3 how often the row count changes;
// the rest is the stream. Checked:
//   - the parser, fed in chunks, makes exactly the calls the reference makes on the whole;
//   - the whole frames read in chunks are the stream, in order, byte for byte, up to the
//     frame still incomplete at its end; each judged by its code and fixed bytes.
#include "fuzz/CheckingSink.h"
#include "fuzz/ReferenceReplyParser.h"
#include "protocol/DioFrameReader.h"
#include "protocol/DioReplyParser.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Calls feed(offset, length) for consecutive chunks of 1..maxChunk bytes from a small generator.
template <class TFeed>
void InChunks(std::size_t length, std::size_t maxChunk, std::uint32_t seed, TFeed&& feed) {
    std::size_t offset = 0;
    while (offset < length) {
        seed = seed * 1664525u + 1013904223u;
        std::size_t chunk = 1 + (seed >> 16) % maxChunk;
        if (chunk > length - offset) {
            chunk = length - offset;
        }
        feed(offset, chunk);
        offset += chunk;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzReplyInput input;
    if (!ReadFuzzReplyInput(data, size, input)) {
        return 0;
    }
    const std::uint32_t seed = (static_cast<std::uint32_t>(data[1]) << 16) |
                               (static_cast<std::uint32_t>(data[2]) << 8) | data[0];

    CCheckingSink referenceSink(input.rowCount, input.pendingStart, input.countPeriod);
    CReferenceReplyParser reference;
    reference.Feed(input.stream, input.length, referenceSink);

    CCheckingSink parserSink(input.rowCount, input.pendingStart, input.countPeriod);
    CDioReplyParser parser;
    InChunks(input.length, input.maxChunk, seed, [&](std::size_t offset, std::size_t chunk) {
        parser.Feed(input.stream + offset, chunk, parserSink);
    });
    FUZZ_CHECK(parserSink.m_nDigest == referenceSink.m_nDigest);

    CDioFrameReader reader;
    std::size_t framed = 0;
    InChunks(
        input.length, input.maxChunk, seed ^ 0x5A5A5Au, [&](std::size_t offset, std::size_t chunk) {
            reader.ReadFrames(input.stream + offset, chunk, [&](const DioFrameView& frame) {
                const DioFrameHeader& header = frame.m_header;
                FUZZ_CHECK(framed + header.FrameSize() <= input.length);
                const std::uint8_t* bytes = input.stream + framed;
                FUZZ_CHECK(header.m_nCode == bytes[0] && header.m_nFixed1 == bytes[1] &&
                           header.m_nFixed2 == bytes[2] && header.m_nLength == bytes[3]);
                FUZZ_CHECK(frame.m_payload.size() == header.m_nLength);
                FUZZ_CHECK(frame.m_payload.empty() ||
                           std::memcmp(frame.m_payload.data(), bytes + 4, header.m_nLength) == 0);
                FUZZ_CHECK(header.m_fault == JudgeDioFrame(bytes[0], bytes[1], bytes[2]));
                framed += header.FrameSize();
            });
        });
    FUZZ_CHECK(framed + reader.PendingBytes() == input.length);
    return 0;
}
