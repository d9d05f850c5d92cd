// A device that never stops talking. A loopback peer streams valid replies as fast as the
// socket takes them while the real dialog receives them, and this measures:
//   - the device bytes per second that are dumped and decoded (until the log shows the last),
//   - whether the log holds a contiguous tail of the stream and the rows its last replies,
//   - real clicks (SendInput, through the window system's input queue) on a row's Read
//     button, idle and in the middle of a flood: from the click to the request on the wire,
//     and to the device's answer shown in the row,
//   - the process's peak memory.
// The log keeps the whole session in its capture file meanwhile; --no-capture leaves it out
// (the temporary folder is made one that does not exist), for comparison.
//
// --timestamps starts every log line with the time. --rate=N paces the second flood's clicks
// at N bytes per second instead of the line rate of a 100 Mbit/s link. --timeline opens the
// Timeline window (following the present) before the flood.
//
//   tools/wine-exec.sh build/win/bench/bench_flood.exe [seconds] [--no-capture] [--timestamps]
//       [--rate=N] [--timeline]
#include "bench/BenchClock.h"
#include "bench/BenchStats.h"
#include "bench/SelectionWatch.h"
#include "res/resource.h"
#include "tests/win32/DialogHarness.h"
#include "tests/win32/FloodingDevice.h"
#include "tests/win32/RealInput.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int kFloodRows = 3; // rows 0 to 2 flood; row 3 is the one clicked
constexpr int kClicks = 30;
constexpr double kLineRate = 10e6; // bytes per second

// The received bytes the log shows, in order, read back from its hex dump.
std::vector<std::uint8_t> DumpedBytes(const std::string& log, bool& onlyDumps) {
    std::vector<std::uint8_t> bytes;
    onlyDumps = true;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos)
            end = log.size();
        std::string line = log.substr(start, end - start);
        if (line.size() > 13 && line[2] == ':' && line[12] == ' ')
            line.erase(0, 13); // the time
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

SIZE_T g_peakMemory = 0;
void SampleMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    g_peakMemory = std::max(g_peakMemory, counters.WorkingSetSize);
}

struct Latencies {
    std::vector<double> toWire;
    std::vector<double> toRow;
    int lost = 0; // clicks whose request or answer never showed within 5 s
};

// Real clicks on row 3's Read, about every 300 ms, each timed to its request at the device and
// to the device's answer in the row.
Latencies Clicks(const CDialogHarness& h, CFloodingDevice& device) {
    Latencies result;
    const HWND hRead = h.Item(2404);
    for (int i = 0; i < kClicks; ++i) {
        const std::size_t before = device.Requests();
        g_selectedAt = 0;
        const double clicked = NowMs();
        real_input::Click(hRead);
        if (!WaitUntil([&] { return device.Requests() > before; }, std::chrono::seconds(5))) {
            ++result.lost;
            continue;
        }
        result.toWire.push_back(device.RequestArrivedAt(before) - clicked);
        if (WaitUntil([&] { return g_selectedAt != 0; }, std::chrono::seconds(5)))
            result.toRow.push_back(g_selectedAt - clicked);
        else
            ++result.lost;
        SampleMemory();
        while (NowMs() - clicked < 300)
            WaitUntil([] { return false; }, std::chrono::milliseconds(10));
    }
    return result;
}

// "10 MB/s", "500 KB/s".
std::string FormatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1e6)
        std::snprintf(text, sizeof text, "%g MB/s", bytesPerSecond / 1e6);
    else
        std::snprintf(text, sizeof text, "%g KB/s", bytesPerSecond / 1e3);
    return text;
}

void Print(const char* what, const std::vector<double>& values) {
    std::printf("%-34s median %6.1f ms, 99th percentile %6.1f ms, worst %6.1f ms (%zu)\n", what,
                Percentile(values, 0.5), Percentile(values, 0.99), Percentile(values, 1.0),
                values.size());
}
} // namespace

int main(int argc, char** argv) {
    // The seconds, when given, come first; the options may come without them.
    const bool bSecondsGiven = argc > 1 && std::strncmp(argv[1], "--", 2) != 0;
    const double seconds = bSecondsGiven ? std::max(0.5, std::atof(argv[1])) : 10.0;
    bool bCapture = true;
    bool bTimestamps = false;
    bool bTimeline = false;
    double rate = kLineRate;
    for (int i = bSecondsGiven ? 2 : 1; i < argc; ++i) {
        bCapture = bCapture && std::strcmp(argv[i], "--no-capture") != 0;
        bTimestamps = bTimestamps || std::strcmp(argv[i], "--timestamps") == 0;
        bTimeline = bTimeline || std::strcmp(argv[i], "--timeline") == 0;
        if (std::strncmp(argv[i], "--rate=", 7) == 0 && std::atof(argv[i] + 7) > 0)
            rate = std::atof(argv[i] + 7);
    }
    if (!bCapture) {
        ::SetEnvironmentVariableA("TMP", "C:\\no-such-folder-for-kelvane");
        ::SetEnvironmentVariableA("TEMP", "C:\\no-such-folder-for-kelvane");
    }
    CTestDialogHarness h;
    // A device's own send queue is small (a real one's is kilobytes): what it sends is not
    // held up in it, ahead of an answer, for long.
    CTestPeer peer(0, CFloodingDevice::SEND_BUFFER);
    h.ConnectTo(peer.PortText());
    if (!peer.Accept()) {
        std::printf("no connection\n");
        return 1;
    }
    h.OnUiThread([&] { h.TestDlg().m_connection.SetTimestamps(bTimestamps); });
    if (bTimeline) {
        // Beside the main window, where the clicks do not land on it.
        h.Command(ID_DEVICE_TIMELINE);
        h.OnUiThread([&] {
            ::MoveWindow(::GetParent(h.TestDlg().m_timeline.Chart()), 0, 560, 1000, 400, TRUE);
        });
    }
    const HWND hState = h.Item(IDC_ROW_STATE_FIRST + 3);
    h.OnUiThread([&] { ::SetWindowSubclass(hState, &WatchSelection, 1, 0); });
    CFloodingDevice device(peer, kFloodRows);
    device.StartAnswering();

    // 1. A flood alone: how fast the program takes it in, and what it shows afterwards.
    const double start = NowMs();
    device.StartFlood();
    while (NowMs() - start < seconds * 1000.0) {
        SampleMemory();
        WaitUntil([] { return false; }, std::chrono::milliseconds(50));
    }
    device.StopFlood();
    const double floodMs = NowMs() - start;
    const std::uint64_t total = device.BytesFlooded();
    bool onlyDumps = false;
    std::vector<std::uint8_t> dumped;
    auto logHasAll = [&] {
        dumped = DumpedBytes(h.LogText(), onlyDumps);
        if (dumped.size() < 256 || dumped.size() > total)
            return false;
        for (std::size_t i = 1; i <= 256; ++i) {
            if (dumped[dumped.size() - i] != device.StreamByte(total - i))
                return false;
        }
        return true;
    };
    const bool drained = WaitUntil(logHasAll, std::chrono::seconds(300));
    const double elapsedMs = NowMs() - start;
    bool contiguous = drained;
    for (std::size_t i = 0; contiguous && i < dumped.size(); ++i)
        contiguous = dumped[i] == device.StreamByte(total - dumped.size() + i);
    // Rows 0 to 2 show the last reply for each.
    bool rowsApplied = true;
    const std::uint64_t frames = total / 9;
    for (int r = 0; r < kFloodRows; ++r) {
        std::uint64_t k = frames - 1;
        while (k % kFloodRows != static_cast<std::uint64_t>(r))
            --k;
        rowsApplied = rowsApplied && h.Row(r) == std::make_pair(int(device.StreamByte(k * 9 + 5)),
                                                                int(device.StreamByte(k * 9 + 6)));
    }

    // 2. Real clicks, idle, during a flood at the line rate of a 100 Mbit/s link (no real
    // device can send faster), and during a flood as fast as loopback goes.
    const Latencies idle = Clicks(h, device);
    device.SetRate(rate);
    device.StartFlood();
    const Latencies paced = Clicks(h, device);
    device.StopFlood();
    device.SetRate(0);
    device.StartFlood();
    const Latencies flooded = Clicks(h, device);
    device.StopFlood();
    h.OnUiThread([&] { ::RemoveWindowSubclass(hState, &WatchSelection, 1); });

    std::printf("flood of %.1f s (%.2f s until the log showed its end), session capture %s, "
                "timestamps %s, Timeline %s\n",
                floodMs / 1000.0, elapsedMs / 1000.0, bCapture ? "on" : "OFF",
                bTimestamps ? "on" : "off", bTimeline ? "open" : "closed");
    std::printf("device bytes sent                  %llu\n",
                static_cast<unsigned long long>(total));
    std::printf("device bytes per second handled    %.0f (%.1f MB/s)\n",
                static_cast<double>(total) * 1000.0 / elapsedMs,
                static_cast<double>(total) * 1000.0 / elapsedMs / (1024.0 * 1024.0));
    std::printf("log holds the last                 %zu bytes, contiguous: %s, only dumps: %s\n",
                dumped.size(), contiguous ? "yes" : "NO", onlyDumps ? "yes" : "NO");
    std::printf("rows show the last replies         %s\n", rowsApplied ? "yes" : "NO");
    Print("idle: click to wire", idle.toWire);
    Print("idle: click to answer in the row", idle.toRow);
    const std::string pacedName = FormatRate(rate) + " flood: click to";
    Print((pacedName + " wire").c_str(), paced.toWire);
    Print((pacedName + " answer").c_str(), paced.toRow);
    Print("full flood: click to wire", flooded.toWire);
    Print("full flood: click to answer", flooded.toRow);
    std::printf("clicks lost (idle, paced, full)    %d, %d, %d\n", idle.lost, paced.lost,
                flooded.lost);
    // The goal: p99 of click to wire at most 100 ms and the worst at most 250 ms over the idle
    // median; an answer in its row at most 300 ms over the idle median.
    auto goal = [&](const Latencies& l) {
        const double idleWire = Percentile(idle.toWire, 0.5);
        const bool answer = Percentile(l.toRow, 1.0) <= Percentile(idle.toRow, 0.5) + 300;
        return l.lost == 0 && Percentile(l.toWire, 0.99) <= idleWire + 100 &&
                       Percentile(l.toWire, 1.0) <= idleWire + 250
                   ? (answer ? "met" : "input met")
                   : "NOT met";
    };
    std::printf("goal at %s, at full speed%*s%s, %s\n", FormatRate(rate).c_str(),
                static_cast<int>(std::max<std::size_t>(1, 12 - FormatRate(rate).size())), "",
                goal(paced), goal(flooded));
    std::printf("peak working set                   %.1f MB\n",
                static_cast<double>(g_peakMemory) / (1024.0 * 1024.0));
    std::size_t changes = 0;
    h.OnUiThread([&] { changes = h.TestDlg().m_history.Size(); });
    std::printf("history                            %zu changes kept\n", changes);
    return contiguous && rowsApplied ? 0 : 1;
}
