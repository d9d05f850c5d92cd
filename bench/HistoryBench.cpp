// The history's cost on the receive path: decoded replies recorded, a chunk at a time, as the
// worker does, with the history already full (every change makes one old change go).
//   build/native/bench/bench_history
#include "connection/DioHistory.h"
#include "connection/DioHistoryExport.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {
// Single-read replies in a 1024-byte chunk (9 bytes each).
constexpr int REPLIES_PER_CHUNK = 113;
constexpr int LANES = 9;

// Replies for DIOs 0 to 8 in turn; with bChange each one gives its DIO a new state.
void Chunk(std::vector<DioReport>& reports, std::int64_t n, bool bChange) {
    reports.clear();
    for (int i = 0; i < REPLIES_PER_CHUNK; ++i, ++n) {
        const int state = bChange ? static_cast<int>((n / LANES) % 2) : 1;
        reports.push_back({static_cast<int>(n % LANES), {1, static_cast<std::int8_t>(state)}});
    }
}

void Record(benchmark::State& state, bool bChange) {
    CDioHistory history;
    std::vector<DioReport> reports;
    std::int64_t n = 0;
    std::int64_t time = 1'800'000'000'000'000;
    // Full before timing starts.
    while (!history.Forgotten()) {
        Chunk(reports, n, true);
        history.RecordReports(DioTime(std::chrono::microseconds(++time)), reports.data(),
                              reports.size());
        n += REPLIES_PER_CHUNK;
    }
    for (auto _ : state) {
        Chunk(reports, n, bChange);
        history.RecordReports(DioTime(std::chrono::microseconds(++time)), reports.data(),
                              reports.size());
        n += REPLIES_PER_CHUNK;
    }
    state.SetItemsProcessed(state.iterations() * REPLIES_PER_CHUNK);
    state.counters["kept"] = static_cast<double>(history.Size());
}

// Every reply a change: items per second are changes recorded per second.
void BM_RecordChanges(benchmark::State& state) {
    Record(state, true);
}
BENCHMARK(BM_RecordChanges);

// Every reply repeats the known value: nothing is recorded, the replies are only compared.
void BM_RecordRepeats(benchmark::State& state) {
    Record(state, false);
}
BENCHMARK(BM_RecordRepeats);

// The worker's collection of a chunk's replies, a frame at a time.
void BM_CollectFrames(benchmark::State& state) {
    CDioFrameReports frames;
    for (auto _ : state) {
        for (int i = 0; i < REPLIES_PER_CHUNK; ++i) {
            frames.SetMode(i % LANES, 1);
            frames.SetState(i % LANES, i & 1);
            frames.EndFrame();
        }
        benchmark::DoNotOptimize(frames.Reports().data());
        frames.Reports().clear();
    }
    state.SetItemsProcessed(state.iterations() * REPLIES_PER_CHUNK);
}
BENCHMARK(BM_CollectFrames);
// An export of 1,000,000 changes: the copy out of the history and the text, as VCD and CSV.
class CCountingOutput final : public IExportOutput {
public:
    bool Write(std::string_view text) override {
        m_nBytes += text.size();
        return true;
    }
    std::size_t m_nBytes = 0;
};

void Export(benchmark::State& state, bool bVcd) {
    CDioHistory history;
    std::vector<DioReport> reports;
    std::int64_t n = 0;
    std::int64_t time = 1'800'000'000'000'000;
    // Each change at a time of its own, so that the VCD has all of them.
    while (history.Size() < 1'000'000) {
        Chunk(reports, n, true);
        for (const DioReport& report : reports)
            history.RecordReports(DioTime(std::chrono::microseconds(time += 7)), &report, 1);
        n += REPLIES_PER_CHUNK;
    }
    const UtcOffsetFunction offset = [](DioTime) {
        return std::chrono::seconds(3600);
    };
    std::size_t bytes = 0;
    for (auto _ : state) {
        CCountingOutput out;
        const DioHistorySnapshot snapshot = history.Snapshot();
        if (bVcd)
            WriteVcd(snapshot, LANES, "Kelvane", offset, out);
        else
            WriteCsv(snapshot, offset, out);
        bytes = out.m_nBytes;
    }
    state.counters["changes"] = static_cast<double>(history.Size());
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_ExportVcd(benchmark::State& state) {
    Export(state, true);
}
BENCHMARK(BM_ExportVcd)->Unit(benchmark::kMillisecond);

void BM_ExportCsv(benchmark::State& state) {
    Export(state, false);
}
BENCHMARK(BM_ExportCsv)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
