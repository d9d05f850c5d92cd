// Throughput of the traffic dump on full receive chunks.
#include "protocol/TrafficDump.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

void BM_DumpReceiveChunk(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(count));
    std::uint32_t value = 12345;
    for (std::uint8_t& b : chunk) {
        value = value * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(value >> 24);
    }
    // The log builds one new text per chunk, as the receive worker does.
    for (auto _ : state) {
        std::string text;
        AppendTrafficDump(text, TrafficDirection::Received, chunk.data(), count);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}

// A reused buffer, as a caller that keeps one text for every chunk does.
void BM_DumpIntoReusedBuffer(benchmark::State& state) {
    std::vector<std::uint8_t> chunk(1024);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<std::uint8_t>(i * 37);
    }
    std::string text;
    for (auto _ : state) {
        text.clear();
        AppendTrafficDump(text, TrafficDirection::Received, chunk.data(), 1024);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}

BENCHMARK(BM_DumpReceiveChunk)->Arg(1024)->Arg(18);
BENCHMARK(BM_DumpIntoReusedBuffer);

} // namespace

BENCHMARK_MAIN();
