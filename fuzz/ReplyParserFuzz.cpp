// Fuzz target for the reply parser.
//
// Input layout: byte 0 picks the row count (0..40), byte 1 the pending range start (-1..41),
// byte 2 the largest chunk size (1..64), byte 3 how often the row count changes (0: never);
// the rest is the reply stream. The stream is fed twice, once whole and once in chunks, and
// both runs must make exactly the same sink calls. Every row update must name a row below
// the count the sink answered last, with a value of 0 or 1.
#include "protocol/DioReplyParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::size_t HEADER_SIZE = 4;
constexpr int MAX_ROWS = 40;

// Aborts (which the fuzzer reports with the input) when a condition fails, in every build type.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s\n", #condition);                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

class CCheckingSink : public CDioReplySink {
public:
    CCheckingSink(int rowCount, int pendingStart, int countPeriod)
        : m_nRowCount(rowCount), m_nPendingStart(pendingStart), m_nCountPeriod(countPeriod) {}

    int GetRowCount() override {
        // Optionally the rows are rebuilt now and then, as a change of target model does.
        if (m_nCountPeriod > 0 && m_nCountReads > 0 && m_nCountReads % m_nCountPeriod == 0) {
            m_nRowCount = (m_nRowCount * 7 + 3) % (MAX_ROWS + 1);
        }
        ++m_nCountReads;
        m_nLastCount = m_nRowCount;
        Record(1, m_nRowCount);
        return m_nRowCount;
    }
    int GetPendingStart() override {
        Record(2, m_nPendingStart);
        return m_nPendingStart;
    }
    void ClearPendingStart() override {
        m_nPendingStart = -1;
        Record(3, 0);
    }
    void SetRowMode(int row, int value) override {
        CheckUpdate(row, value);
        Record(4, row * 2 + value);
    }
    void SetRowState(int row, int value) override {
        CheckUpdate(row, value);
        Record(5, row * 2 + value);
    }

    std::uint64_t m_nDigest = 14695981039346656037ull;

private:
    void CheckUpdate(int row, int value) {
        FUZZ_CHECK(m_nLastCount >= 0);
        FUZZ_CHECK(row >= 0);
        FUZZ_CHECK(row < m_nLastCount);
        FUZZ_CHECK(value == 0 || value == 1);
    }

    // A running digest of the calls in order, to compare two runs.
    void Record(int kind, int argument) {
        const std::uint64_t word =
            (static_cast<std::uint64_t>(kind) << 32) | static_cast<std::uint32_t>(argument);
        m_nDigest = (m_nDigest ^ word) * 1099511628211ull;
    }

    int m_nRowCount;
    int m_nPendingStart;
    int m_nCountPeriod;
    int m_nCountReads = 0;
    int m_nLastCount = -1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < HEADER_SIZE) {
        return 0;
    }
    const int rowCount = data[0] % (MAX_ROWS + 1);
    const int pendingStart = data[1] % (MAX_ROWS + 3) - 1;
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
