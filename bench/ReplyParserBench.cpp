// Throughput of the reply parser on realistic reply streams, fed in receive-sized chunks.
#include "connection/RowUpdateBatch.h"
#include "protocol/DioReplyParser.h"

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t RECEIVE_CHUNK = 1024;
constexpr std::size_t STREAM_SIZE = 256 * 1024;
constexpr int ROWS = 9;

// A sink reached through virtual calls: answers from members and stores every update.
class CStoringSink : public CDioReplySink {
public:
    int GetRowCount() override { return m_nRowCount; }
    int GetPendingStart() override { return m_nPendingStart; }
    void ClearPendingStart() override {
        m_nPendingStart = -1;
        ++m_nClears;
    }
    void SetRowMode(int row, int value) override { m_modes[static_cast<std::size_t>(row)] = value; }
    void SetRowState(int row, int value) override {
        m_states[static_cast<std::size_t>(row)] = value;
    }
    void EndOfChunk() {}
    void StartRange() { m_nPendingStart = 0; }

    int m_nRowCount = ROWS;
    int m_nPendingStart = 0;
    long long m_nClears = 0;
    std::array<int, 256> m_modes{};
    std::array<int, 256> m_states{};
};

// The receive worker's sink as the program has it: shared integers read whole (atomics),
// final operations, and the decoded selections noted in a batch that is handed over (here:
// drained) after every chunk.
class CBatchingSink final : public CDioReplySink {
public:
    int GetRowCount() final { return m_nRowCount.load(std::memory_order_relaxed); }
    int GetPendingStart() final { return m_nPendingStart.load(std::memory_order_relaxed); }
    void ClearPendingStart() final { m_nPendingStart.store(-1, std::memory_order_relaxed); }
    void SetRowMode(int row, int value) final { m_updates.SetMode(row, value); }
    void SetRowState(int row, int value) final { m_updates.SetState(row, value); }
    void StartRange() { m_nPendingStart.store(0, std::memory_order_relaxed); }
    void EndOfChunk() {
        m_updates.Drain([this](int row, int mode, int state) { m_nApplied += row + mode + state; });
    }

    std::atomic<int> m_nRowCount{ROWS};
    std::atomic<int> m_nPendingStart{0};
    CRowUpdateBatch m_updates;
    long long m_nApplied = 0;
};

void Append(Bytes& stream, const Bytes& frame) {
    stream.insert(stream.end(), frame.begin(), frame.end());
}

// Repeats the given frames, in turn, until the stream holds STREAM_SIZE bytes (or a little
// more, ending on a whole frame).
Bytes BuildStream(const std::vector<Bytes>& frames) {
    Bytes stream;
    stream.reserve(STREAM_SIZE + 512);
    for (std::size_t i = 0; stream.size() < STREAM_SIZE; ++i) {
        Append(stream, frames[i % frames.size()]);
    }
    return stream;
}

const Bytes RANGE_REPLY_9 = {0x05, 0x02, 0x00, 0x12, 1, 1, 0, 0, 1, 0, 0,
                             1,    1,    1,    0,    0, 1, 0, 0, 1, 1, 1};
const Bytes SINGLE_REPLY = {0x01, 0x02, 0x00, 0x03, 0x04, 0x01, 0x00};
const Bytes WRITE_ACK = {0x02, 0x02, 0x00, 0x01, 0x00};
const Bytes RANGE_WRITE_ACK = {0x06, 0x02, 0x00, 0x01, 0x00};
const Bytes JUNK_FRAME = {0x09, 0x02, 0x00, 0x10, 0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01,
                          0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};

// Sink is the sink's class as the parser sees it: CDioReplySink for virtual calls, the final
// class for direct ones.
template <class Sink, class Concrete>
void FeedStream(benchmark::State& state, const Bytes& stream) {
    Concrete concrete;
    // Through a pointer the compiler cannot see through: a virtual call stays one, instead of
    // being resolved because the sink's class is known here.
    Sink* pSink = &concrete;
    benchmark::DoNotOptimize(pSink);
    Sink& sink = *pSink;
    CDioReplyParser parser;
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < stream.size(); offset += RECEIVE_CHUNK) {
            const std::size_t left = stream.size() - offset;
            parser.Feed(stream.data() + offset, left < RECEIVE_CHUNK ? left : RECEIVE_CHUNK, sink);
            concrete.EndOfChunk();
            // Every range reply starts from a pending start, as after a range "Read".
            concrete.StartRange();
        }
        benchmark::DoNotOptimize(concrete);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
}

// Through virtual calls, and with the program's own (final) sink.
#define KELVANE_STREAM_BENCHMARK(name, ...)                                                        \
    void name##_Virtual(benchmark::State& state) {                                                 \
        FeedStream<CDioReplySink, CStoringSink>(state, BuildStream({__VA_ARGS__}));                \
    }                                                                                              \
    void name##_ProgramSink(benchmark::State& state) {                                             \
        FeedStream<CBatchingSink, CBatchingSink>(state, BuildStream({__VA_ARGS__}));               \
    }                                                                                              \
    BENCHMARK(name##_Virtual);                                                                     \
    BENCHMARK(name##_ProgramSink);

KELVANE_STREAM_BENCHMARK(BM_RangeReadReplies, RANGE_REPLY_9)
KELVANE_STREAM_BENCHMARK(BM_SingleReadReplies, SINGLE_REPLY)
KELVANE_STREAM_BENCHMARK(BM_WriteAcks, WRITE_ACK, RANGE_WRITE_ACK)
KELVANE_STREAM_BENCHMARK(BM_SkippedJunkFrames, JUNK_FRAME)
KELVANE_STREAM_BENCHMARK(BM_MixedReplies, RANGE_REPLY_9, SINGLE_REPLY, WRITE_ACK, RANGE_REPLY_9,
                         JUNK_FRAME, RANGE_WRITE_ACK, SINGLE_REPLY)

} // namespace

BENCHMARK_MAIN();
