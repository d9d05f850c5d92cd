// A device that never stops talking. A loopback peer streams valid replies as fast as the
// socket takes them for a fixed time while the real dialog receives them, and this measures:
//   - the device bytes per second that reach the log,
//   - how long the interface thread takes to answer a message sent to it meanwhile,
//   - the process's peak memory,
// and checks that nothing the device sent is missing from the log (apart from what the cap
// trimmed from the front) and that the rows show the last reply for each of them.
//
//   tools/wine-exec.sh build/win/bench/bench_flood.exe [seconds]
#include "bench/BenchClock.h"
#include "tests/win32/DialogHarness.h"
#include "tests/win32/TestPeer.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {
constexpr int kRows = 4;
constexpr int kFrameSize = 9;

// The stream is a function of the offset, so any part of it can be checked without keeping
// it: frame k is a single-read reply for DIO k % 4 with a mode and a state, and two more
// payload bytes (which the program ignores) that number the frames. Every byte is small, as a
// real device's are, so the dump's character column is dots.
std::uint8_t StreamByte(std::uint64_t offset) {
    const std::uint64_t k = offset / kFrameSize;
    switch (offset % kFrameSize) {
    case 0:
        return 0x01;
    case 1:
        return 0x02;
    case 2:
        return 0x00;
    case 3:
        return 0x05;
    case 4:
        return static_cast<std::uint8_t>(k % kRows);
    case 5:
        return static_cast<std::uint8_t>((k / 4) % 2);
    case 6:
        return static_cast<std::uint8_t>((k / 8) % 2);
    case 7:
        return static_cast<std::uint8_t>((k / 16) % 31);
    default:
        return static_cast<std::uint8_t>((k / 16) % 29);
    }
}

// The received bytes the log shows, in order, read back from its hex dump.
std::vector<std::uint8_t> DumpedBytes(const std::string& log, bool& onlyDumps) {
    std::vector<std::uint8_t> bytes;
    onlyDumps = true;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos)
            end = log.size();
        const std::string line = log.substr(start, end - start);
        start = end + 2;
        if (line.size() < 52 || (line[0] != '<' && line[0] != ' ') || line.substr(49, 3) != " | ") {
            onlyDumps = false;
            continue;
        }
        for (int field = 0; field < 16; ++field) {
            const std::string hex = line.substr(1 + 3 * field + 1, 2);
            if (hex == "  ")
                break;
            bytes.push_back(static_cast<std::uint8_t>(std::strtoul(hex.c_str(), nullptr, 16)));
        }
    }
    return bytes;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

SIZE_T WorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
}
} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    CTestDialogHarness h;
    CTestPeer peer;
    h.SetText(1006, "127.0.0.1");
    h.SetText(1007, peer.PortText());
    h.Click(1022);
    if (!peer.Accept()) {
        std::printf("no connection\n");
        return 1;
    }

    std::atomic<bool> flooding{true};
    std::atomic<std::uint64_t> sent{0};
    std::thread device([&] {
        std::vector<std::uint8_t> block(4096);
        std::uint64_t offset = 0;
        while (flooding) {
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = StreamByte(offset + i);
            if (!peer.Send(block))
                break;
            offset += block.size();
            sent = offset;
        }
    });

    // Until the log has everything, a message is sent to the interface thread every 10 ms
    // and timed; the process's memory is sampled alongside.
    std::vector<double> answers;
    SIZE_T peakMemory = 0;
    bool onlyDumps = false;
    std::vector<std::uint8_t> dumped;
    auto logHasAll = [&](std::uint64_t total) {
        dumped = DumpedBytes(h.LogText(), onlyDumps);
        if (dumped.size() < 256 || dumped.size() > total)
            return false;
        for (std::size_t i = 1; i <= 256; ++i) {
            if (dumped[dumped.size() - i] != StreamByte(total - i))
                return false;
        }
        return true;
    };
    const double start = NowMs();
    double floodMs = 0;
    double lastCheck = start;
    bool drained = false;
    while (!drained && NowMs() - start < seconds * 1000.0 + 300000.0) {
        const double before = NowMs();
        ::SendMessageA(h.Dialog(), WM_NULL, 0, 0);
        answers.push_back(NowMs() - before);
        peakMemory = std::max(peakMemory, WorkingSet());
        ::Sleep(10);
        if (floodMs == 0 && NowMs() - start >= seconds * 1000.0) {
            flooding = false;
            device.join();
            floodMs = NowMs() - start;
        }
        if (floodMs > 0 && NowMs() - lastCheck > 500) {
            drained = logHasAll(sent);
            lastCheck = NowMs();
        }
    }
    const std::uint64_t total = sent;
    const double drainMs = NowMs() - start - floodMs;

    // What the log shows is exactly the end of the stream, without a gap.
    bool contiguous = drained && dumped.size() <= total;
    for (std::size_t i = 0; contiguous && i < dumped.size(); ++i)
        contiguous = dumped[i] == StreamByte(total - dumped.size() + i);

    // The rows show the last reply for each DIO.
    bool rowsApplied = true;
    const std::uint64_t frames = total / kFrameSize;
    for (int r = 0; r < kRows; ++r) {
        std::uint64_t k = frames - 1;
        while (k % kRows != static_cast<std::uint64_t>(r))
            --k;
        rowsApplied =
            rowsApplied &&
            h.CurSel(h.Item(2101 + r)) == static_cast<int>(StreamByte(k * kFrameSize + 5)) &&
            h.CurSel(h.Item(2201 + r)) == static_cast<int>(StreamByte(k * kFrameSize + 6));
    }

    const double elapsed = (floodMs + drainMs) / 1000.0;
    std::printf("flood of %.1f s (%.1f s until the log had it all)\n", floodMs / 1000.0, elapsed);
    std::printf("device bytes sent              %llu\n", static_cast<unsigned long long>(total));
    std::printf("device bytes per second logged %.0f (%.1f KB/s)\n",
                static_cast<double>(total) / elapsed,
                static_cast<double>(total) / elapsed / 1024.0);
    std::printf("log holds the last             %zu bytes, contiguous: %s, only dumps: %s\n",
                dumped.size(), contiguous ? "yes" : "NO", onlyDumps ? "yes" : "NO");
    std::printf("rows show the last replies     %s\n", rowsApplied ? "yes" : "NO");
    std::printf("interface thread answer time   median %.1f ms, 99th percentile %.1f ms, worst "
                "%.1f ms (%zu samples)\n",
                Percentile(answers, 0.5), Percentile(answers, 0.99), Percentile(answers, 1.0),
                answers.size());
    std::printf("peak working set               %.1f MB\n",
                static_cast<double>(peakMemory) / (1024.0 * 1024.0));
    peer.Reset();
    return contiguous && rowsApplied ? 0 : 1;
}
