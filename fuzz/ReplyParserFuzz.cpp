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

namespace {

constexpr std::size_t HEADER_SIZE = 4;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < HEADER_SIZE) {
        return 0;
    }
    const int rowCount = data[0] % (FUZZ_MAX_ROWS + 1);
    const int pendingStart = data[1] % (FUZZ_MAX_ROWS + 3) - 1;
    const std::size_t maxChunk = 1 + data[2] % 64;
    const int countPeriod = data[3];
    const std::uint8_t* stream = data + HEADER_SIZE;
    const std::size_t length = size - HEADER_SIZE;

    CCheckingSink wholeSink(rowCount, pendingStart, countPeriod);
    CDioReplyParser wholeParser;
    if (length > 0) {
        wholeParser.Feed(stream, length, wholeSink);
    }

    // Chunk sizes from a small generator seeded by the header, 1..maxChunk each.
    CCheckingSink chunkSink(rowCount, pendingStart, countPeriod);
    CDioReplyParser chunkParser;
    std::uint32_t seed = (static_cast<std::uint32_t>(data[0]) << 16) |
                         (static_cast<std::uint32_t>(data[2]) << 8) | data[3];
    std::size_t offset = 0;
    while (offset < length) {
        seed = seed * 1664525u + 1013904223u;
        std::size_t chunk = 1 + (seed >> 16) % maxChunk;
        if (chunk > length - offset) {
            chunk = length - offset;
        }
        chunkParser.Feed(stream + offset, chunk, chunkSink);
        offset += chunk;
    }

    FUZZ_CHECK(wholeSink.m_nDigest == chunkSink.m_nDigest);
    return 0;
}
