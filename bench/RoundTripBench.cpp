// From a row's "Read" click to the reply shown in that row's selectors, against the raw
// loopback round trip of the same bytes measured in the same run. The device answers every
// read at once, alternating the values so that each reply changes the row.
//
//   tools/wine-exec.sh build/win/bench/bench_round_trip.exe [rounds]
#include "bench/BenchClock.h"
#include "bench/BenchStats.h"
#include "bench/SelectionWatch.h"
#include "tests/win32/DialogHarness.h"
#include "tests/win32/TestPeer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {
double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Answers every 5-byte read with a 7-byte reply for DIO 0, alternating its values.
void Answer(CTestPeer& peer, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        if (peer.Read(5).size() != 5)
            return;
        const std::uint8_t value = static_cast<std::uint8_t>((i + 1) % 2);
        if (!peer.Send({0x01, 0x02, 0x00, 0x03, 0x00, value, value}))
            return;
    }
}
// One session of the dialog against an answering device: the time from each click to the
// reply shown in row 0.
std::vector<double> ProgramRounds(int rounds, bool pressButton) {
    std::vector<double> times;
    CTestDialogHarness h;
    CTestPeer peer;
    h.SetText(1006, "127.0.0.1");
    h.SetText(1007, peer.PortText());
    h.Click(1022);
    if (!peer.Accept())
        return times;
    const HWND hMode = h.Item(2101);
    const HWND hRead = h.Item(2401);
    h.OnUiThread([&] { ::SetWindowSubclass(hMode, &WatchSelection, 1, 0); });
    std::thread device([&] { Answer(peer, rounds); });
    for (int i = 0; i < rounds; ++i) {
        g_selectedAt = 0;
        // The click happens on the dialog's thread, as the operator's does: timed from there.
        double before = 0;
        h.OnUiThread([&] {
            before = NowMs();
            if (pressButton)
                ::SendMessageA(hRead, BM_CLICK, 0, 0);
            else
                ::SendMessageA(h.Dialog(), WM_COMMAND, MAKEWPARAM(2401, BN_CLICKED),
                               reinterpret_cast<LPARAM>(hRead));
        });
        if (!WaitUntil([&] { return g_selectedAt != 0; }, std::chrono::seconds(5)))
            break;
        times.push_back(g_selectedAt - before);
        // The log's own update and its drawing come a moment later; let them pass between
        // rounds, as they do between an operator's clicks.
        h.OnUiThread([&] {
            h.Dlg().FlushLog();
            ::RedrawWindow(h.Dialog(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        });
    }
    device.join();
    h.OnUiThread([&] { ::RemoveWindowSubclass(hMode, &WatchSelection, 1); });
    return times;
}
} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;

    // The raw round trip: the same request and reply over a plain loopback connection.
    std::vector<double> raw;
    {
        CTestPeer peer;
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = ::htons(peer.Port());
        address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        peer.Accept();
        std::thread device([&] { Answer(peer, rounds); });
        const char request[] = {0x01, 0x02, 0x00, 0x01, 0x00};
        for (int i = 0; i < rounds; ++i) {
            const double before = NowMs();
            ::send(s, request, sizeof request, 0);
            char reply[7];
            int got = 0;
            while (got < 7) {
                const int n = ::recv(s, reply + got, 7 - got, 0);
                if (n <= 0)
                    break;
                got += n;
            }
            raw.push_back(NowMs() - before);
        }
        device.join();
        ::closesocket(s);
    }

    // Through the program: click, request, reply, worker, parser, row selector. A click is
    // timed from the button's click notification reaching the dialog (what the program sees
    // of a click), and in a second session with the button pressing itself (BM_CLICK), which
    // adds the window system's drawing of the pressed button.
    const std::vector<double> shown = ProgramRounds(rounds, false);
    const std::vector<double> pressed = ProgramRounds(rounds, true);

    std::printf("%d rounds\n", rounds);
    std::printf("raw loopback round trip        median %.3f ms, 90th percentile %.3f ms\n",
                Median(raw), Percentile(raw, 0.9));
    std::printf("Read click to reply in the row median %.3f ms, 90th percentile %.3f ms\n",
                Median(shown), Percentile(shown, 0.9));
    std::printf("difference of the medians      %.3f ms\n", Median(shown) - Median(raw));
    std::printf(
        "with the button drawn pressed  median %.3f ms, 90th percentile %.3f ms (%zu rounds)\n",
        Median(pressed), Percentile(pressed, 0.9), pressed.size());
    return 0;
}
