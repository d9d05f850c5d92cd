// Fuzz target for the reply parser.
//
// Input layout: byte 0 picks the row count (0..40), byte 1 the pending range start (-1..41),
// byte 2 the largest chunk size (1..64), byte 3 how often the row count changes (0: never);
// the rest is the reply stream. The stream is fed twice, once whole and once in chunks, and
// both runs must make exactly the same sink calls. Every row update must name a row below
// the count the sink answered last, with a value of 0 or 1.
#include "fuzz/CheckingSink.h"
#include "protocol/DioReplyParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzReplyInput input;
    if (!ReadFuzzReplyInput(data, size, input)) {
        return 0;
    }

    CCheckingSink wholeSink(input.rowCount, input.pendingStart, input.countPeriod);
    CDioReplyParser wholeParser;
    if (input.length > 0) {
        wholeParser.Feed(input.stream, input.length, wholeSink);
    }

    // Chunk sizes from a small generator seeded by the header, 1..maxChunk each.
    CCheckingSink chunkSink(input.rowCount, input.pendingStart, input.countPeriod);
    CDioReplyParser chunkParser;
    std::uint32_t seed = (static_cast<std::uint32_t>(data[0]) << 16) |
                         (static_cast<std::uint32_t>(data[2]) << 8) | data[3];
    std::size_t offset = 0;
    while (offset < input.length) {
        seed = seed * 1664525u + 1013904223u;
        std::size_t chunk = 1 + (seed >> 16) % input.maxChunk;
        if (chunk > input.length - offset) {
            chunk = input.length - offset;
        }
        chunkParser.Feed(input.stream + offset, chunk, chunkSink);
        offset += chunk;
    }

    FUZZ_CHECK(wholeSink.m_nDigest == chunkSink.m_nDigest);
    return 0;
}
