// A soak of reconnecting: a device that drops the connection a second after each accept (an
// orderly close and a reset in turn), with Reconnect Automatically on and Poll at 100 ms. It
// reports the reconnects and polls answered, and the process's handles, GDI and USER objects
// and working set at the start, every minute and at the end. Nothing should grow but the
// history of the DIOs, by a few changes a reconnect.
//
//   tools/wine-exec.sh build/win/bench/bench_reconnect.exe [seconds, 600 by default]
#include "bench/BenchClock.h"
#include "res/resource.h"
#include "tests/win32/AnsweringDevice.h"
#include "tests/win32/DialogHarness.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
struct Figures {
    DWORD handles = 0;
    DWORD gdi = 0;
    DWORD user = 0;
    double workingSetMb = 0;
    double privateMb = 0;
};

// Wine answers 0 for the process's handle count and its GDI and USER object counts. There they
// are counted by trying every handle value: kernel handles whose information can be read, and
// GDI and USER objects found by their table index alone (which Wine accepts for a full
// handle). On Windows the system's own counts are used.
DWORD CountKernelHandles() {
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        count += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

DWORD CountGdiObjects() {
    DWORD count = 0;
    for (ULONG_PTR index = 1; index < 0x10000; ++index)
        count += ::GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0 ? 1 : 0;
    return count;
}

DWORD CountUserObjects() {
    DWORD count = 0;
    for (ULONG_PTR index = 0; index < 0x8000; ++index) {
        const ULONG_PTR value = 0x20 + 2 * index;
        count +=
            ::IsWindow(reinterpret_cast<HWND>(value)) || ::IsMenu(reinterpret_cast<HMENU>(value))
                ? 1
                : 0;
    }
    return count;
}

Figures Measure() {
    Figures figures;
    ::GetProcessHandleCount(::GetCurrentProcess(), &figures.handles);
    figures.gdi = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    figures.user = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    if (figures.handles == 0)
        figures.handles = CountKernelHandles();
    if (figures.gdi == 0)
        figures.gdi = CountGdiObjects();
    if (figures.user == 0)
        figures.user = CountUserObjects();
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    figures.workingSetMb = static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
    figures.privateMb = static_cast<double>(counters.PagefileUsage) / (1024.0 * 1024.0);
    return figures;
}

void Print(const char* when, double seconds, const Figures& f, int reconnects, std::size_t polls) {
    std::printf("%-6s %6.0f s  reconnects %5d  polls answered %7zu  handles %4lu  GDI %4lu  "
                "USER %4lu  working set %6.1f MB  private %6.1f MB\n",
                when, seconds, reconnects, polls, static_cast<unsigned long>(f.handles),
                static_cast<unsigned long>(f.gdi), static_cast<unsigned long>(f.user),
                f.workingSetMb, f.privateMb);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 && std::atof(argv[1]) > 0 ? std::atof(argv[1]) : 600.0;
    CTestDialogHarness h;
    CTestPeer peer;
    CAnsweringDevice device(peer, std::chrono::milliseconds(0), std::chrono::milliseconds(1000));
    h.Command(ID_DEVICE_RECONNECT);
    h.Command(ID_POLL_100MS);
    h.ConnectTo(peer.PortText());
    if (!WaitUntil([&] { return device.Connected(); })) {
        std::printf("no connection\n");
        return 1;
    }
    const std::vector<std::uint8_t> poll{0x05, 0x02, 0x00, 0x02, 0x00, 0x03};
    std::size_t polls = 0;
    auto countPolls = [&] {
        polls += device.CountRequests(poll);
        device.ClearRequests();
    };
    // The first reconnects have happened: the program's own set-up is behind it.
    WaitUntil([&] { return device.Connections() >= 3; }, std::chrono::seconds(30));
    countPolls();
    const double start = NowMs();
    const int connectionsAtStart = device.Connections();
    const Figures first = Measure();
    Print("start", 0, first, 0, polls);
    // The log pane takes its first minute or so to fill up to its cap (about 3 MB of Wine's
    // rich edit): growth is also given from the first minute's figures on.
    Figures minute = first;
    double nextReport = start + 60000;
    while (NowMs() - start < seconds * 1000.0) {
        WaitUntil([] { return false; }, std::chrono::milliseconds(200));
        if (NowMs() >= nextReport) {
            countPolls();
            const Figures now = Measure();
            if (nextReport == start + 60000)
                minute = now;
            Print("", (NowMs() - start) / 1000.0, now, device.Connections() - connectionsAtStart,
                  polls);
            nextReport += 60000;
        }
    }
    countPolls();
    const Figures last = Measure();
    const int reconnects = device.Connections() - connectionsAtStart;
    Print("end", (NowMs() - start) / 1000.0, last, reconnects, polls);
    const std::string log = h.LogText();
    std::printf("log pane now holds %zu characters; message boxes shown: %zu\n", log.size(),
                h.Boxes().size());
    auto growth = [&](const char* since, const Figures& from) {
        std::printf("growth since %-12s handles %+ld, GDI %+ld, USER %+ld, working set %+.1f MB, "
                    "private %+.1f MB\n",
                    since, static_cast<long>(last.handles) - static_cast<long>(from.handles),
                    static_cast<long>(last.gdi) - static_cast<long>(from.gdi),
                    static_cast<long>(last.user) - static_cast<long>(from.user),
                    last.workingSetMb - from.workingSetMb, last.privateMb - from.privateMb);
    };
    growth("the start:", first);
    if (seconds > 60)
        growth("1 minute:", minute);
    return reconnects > 0 && h.Boxes().empty() ? 0 : 1;
}
