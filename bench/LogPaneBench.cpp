// How long the interface thread is busy with the log pane: appends of every size the program
// makes (each moved into the pane at once), a trim at the cap, and "Clear Log" on a full log. The
// cap and the trim step were chosen from these figures: neither a trim nor a clear may hold the
// interface thread for more than about a quarter of a second.
#include "bench/BenchClock.h"
#include "tests/win32/DialogHarness.h"
#include "ui/LogCap.h"
#include "protocol/TrafficDump.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
// Dumps of received 1024-byte chunks, as the worker appends them, totalling about chars.
std::string Dumps(long chars) {
    std::vector<BYTE> chunk(1024);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<BYTE>(i * 7);
    std::string text;
    while (static_cast<long>(text.size()) < chars)
        AppendTrafficDump(text, TrafficDirection::Received, chunk.data(), 1024);
    return text;
}

struct Timing {
    double median, worst;
};

Timing Measure(int repeats, const std::function<double()>& once) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i)
        times.push_back(once());
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}
} // namespace

int main() {
    CTestDialogHarness h;
    auto onUi = [&](const std::function<void()>& f) {
        double ms = 0;
        h.OnUiThread([&] {
            const double start = NowMs();
            f();
            ms = NowMs() - start;
        });
        return ms;
    };
    auto fillTo = [&](long chars) {
        h.Click(1030);
        const std::string text = Dumps(chars);
        onUi([&] {
            h.Dlg().AppendLog(text);
            h.Dlg().FlushLog();
        });
    };

    std::printf("log cap %ld characters, trimmed to %ld; a paced apply writes up to %zu\n",
                LOG_CAP_CHARS, LOG_TRIM_TO_CHARS, LOG_APPLY_MAX_CHARS);
    std::printf("%-44s %10s %10s\n", "interface thread busy with", "median ms", "worst ms");

    const BYTE request[] = {0x01, 0x02, 0x00, 0x01, 0x03};
    for (long size :
         {0L, LOG_CAP_CHARS / 8, LOG_CAP_CHARS / 4, LOG_CAP_CHARS / 2, LOG_CAP_CHARS - 100}) {
        fillTo(size);
        const Timing one = Measure(20, [&] {
            return onUi([&] {
                h.Dlg().LogTraffic(1, request, 5);
                h.Dlg().FlushLog();
            });
        });
        std::printf("one request dump, log at %-7ld chars        %10.1f %10.1f\n", size, one.median,
                    one.worst);
    }
    // A paced apply's most, and what a flush takes when more has waited.
    for (long batch : {static_cast<long>(LOG_APPLY_MAX_CHARS), 9000L, 20884L}) {
        const std::string text = Dumps(batch);
        fillTo(LOG_CAP_CHARS / 2);
        const Timing t = Measure(5, [&] {
            fillTo(LOG_CAP_CHARS / 2);
            return onUi([&] {
                h.Dlg().AppendLog(text);
                h.Dlg().FlushLog();
            });
        });
        std::printf("append of %-6zu chars (no trim)                %10.1f %10.1f\n", text.size(),
                    t.median, t.worst);
    }
    {
        const std::string text = Dumps(20884L);
        const Timing t = Measure(5, [&] {
            fillTo(LOG_CAP_CHARS - 1000);
            return onUi([&] {
                h.Dlg().AppendLog(text);
                h.Dlg().FlushLog();
            });
        });
        std::printf("append of %-6zu chars with a trim at the cap   %10.1f %10.1f\n", text.size(),
                    t.median, t.worst);
    }
    {
        const Timing t = Measure(5, [&] {
            fillTo(LOG_CAP_CHARS);
            return onUi([&] {
                ::SendMessageA(h.Dialog(), WM_COMMAND, MAKEWPARAM(1030, BN_CLICKED),
                               reinterpret_cast<LPARAM>(h.Item(1030)));
            });
        });
        std::printf("\"Clear Log\" on a full log                     %10.1f %10.1f\n", t.median,
                    t.worst);
    }
    return 0;
}
