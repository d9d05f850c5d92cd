// The fuzzers' sink: checks the parser's promises to a sink at every call, and keeps a running
// digest of the calls in order, so that two runs can be compared.
#pragma once

#include "protocol/DioReplyParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

constexpr int FUZZ_MAX_ROWS = 40;

// Aborts (which the fuzzer reports with the input) when a condition fails, in every build type.
// What a reply-stream fuzz input holds: a four-byte header (how the sink answers, how the
// stream is chunked) and the stream after it. The reply-stream targets read it alike, so
// that they share one corpus.
struct FuzzReplyInput {
    int rowCount = 0;
    int pendingStart = -1;
    std::size_t maxChunk = 1;
    int countPeriod = 0;
    const std::uint8_t* stream = nullptr;
    std::size_t length = 0;
};

// False for an input too short to hold the header.
inline bool ReadFuzzReplyInput(const std::uint8_t* data, std::size_t size, FuzzReplyInput& input) {
    constexpr std::size_t HEADER_SIZE = 4;
    if (size < HEADER_SIZE) {
        return false;
    }
    input.rowCount = data[0] % (FUZZ_MAX_ROWS + 1);
    input.pendingStart = data[1] % (FUZZ_MAX_ROWS + 3) - 1;
    input.maxChunk = 1 + data[2] % 64;
    input.countPeriod = data[3];
    input.stream = data + HEADER_SIZE;
    input.length = size - HEADER_SIZE;
    return true;
}

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
            m_nRowCount = (m_nRowCount * 7 + 3) % (FUZZ_MAX_ROWS + 1);
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
