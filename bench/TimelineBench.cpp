// The Timeline's full repaint with 1,000,000 changes in view, at the widest zoom (an hour of
// changes) and at the narrowest (all of them within a millisecond), nine lanes, the window at
// 1280 x 700: the time from invalidating the chart to its repaint shown, on the interface
// thread. Beside it, the same with no change in view (the baseline of drawing an empty
// chart).
//   tools/wine-exec.sh build/win/bench/bench_timeline.exe [repaints]
#include "bench/BenchClock.h"
#include "bench/BenchStats.h"
#include "res/resource.h"
#include "tests/win32/DialogHarness.h"

#include <cstdio>
#include <cstdlib>

namespace {
using std::chrono::microseconds;

constexpr std::size_t CHANGES = 1'000'000;
constexpr int LANES = 9;

// Fills the history with CHANGES changes from first on, step apart, per chunk of the given
// number of changes sharing one time.
void Fill(CDioHistory& history, DioTime first, microseconds step, int perChunk) {
    std::vector<DioReport> reports;
    std::size_t n = 0;
    DioTime time = first;
    while (n < CHANGES) {
        reports.clear();
        for (int i = 0; i < perChunk && n < CHANGES; ++i, ++n) {
            const int lane = static_cast<int>(n % LANES);
            reports.push_back(
                {lane,
                 {static_cast<std::int8_t>(n / 97 % 2), static_cast<std::int8_t>(n / LANES % 2)}});
        }
        history.RecordReports(time, reports.data(), reports.size());
        time += step;
    }
}

std::vector<double> Repaints(const CTestDialogHarness& h, HWND hChart, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        h.OnUiThread([&] {
            const double start = NowMs();
            ::RedrawWindow(hChart, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            times.push_back(NowMs() - start);
        });
    }
    return times;
}

void Print(const char* what, const std::vector<double>& times, std::size_t changes) {
    std::printf("%-44s median %6.2f ms, 99th percentile %6.2f ms, worst %6.2f ms (%zu changes)\n",
                what, Percentile(times, 0.5), Percentile(times, 0.99), Percentile(times, 1.0),
                changes);
}
} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 60;
    CTestDialogHarness h;
    h.Command(ID_TARGET_MODEL_FIRST + 1); // nine DIOs
    h.Command(ID_DEVICE_TIMELINE);
    HWND hChart = nullptr;
    h.OnUiThread([&] {
        CTimelineWnd& timeline = h.TestDlg().m_timeline;
        hChart = timeline.Chart();
        ::MoveWindow(::GetParent(hChart), 0, 0, 1280, 700, TRUE);
        timeline.SetFollow(false);
    });
    std::size_t kept = 0;
    auto view = [&](DioTime start, int zoomSteps) {
        h.OnUiThread([&] {
            CTimelineWnd& timeline = h.TestDlg().m_timeline;
            timeline.Zoom(zoomSteps, std::nullopt);
            timeline.PanTo(start);
            kept = h.TestDlg().m_history.Size();
        });
    };
    TimelineState state;
    h.OnUiThread([&] { state = h.TestDlg().m_timeline.State(); });
    std::printf("chart: %d columns of data, 9 lanes\n", state.plotWidth);

    // Baseline: nothing in view.
    view(ToDioTime(std::chrono::system_clock::now()) - microseconds(1000), 30);
    Print("empty chart", Repaints(h, hChart, count), kept);

    // Widest: an hour that ends now, a change every 3.6 ms.
    const DioTime now = ToDioTime(std::chrono::system_clock::now());
    h.OnUiThread(
        [&] { Fill(h.TestDlg().m_history, now - std::chrono::hours(1), microseconds(3600), 1); });
    view(now - std::chrono::hours(1), -30);
    h.OnUiThread([&] { state = h.TestDlg().m_timeline.State(); });
    std::printf("view: %lld us from the first change\n",
                static_cast<long long>(state.span.count()));
    Print("widest zoom (1 h), 1,000,000 changes in view", Repaints(h, hChart, count), kept);

    // Narrowest: a millisecond, 1,000 chunk times a microsecond apart with 1,000 changes each.
    h.OnUiThread([&] {
        CDioHistory& history = h.TestDlg().m_history;
        history.Clear(ToDioTime(std::chrono::system_clock::now()));
        Fill(history, ToDioTime(std::chrono::system_clock::now()), microseconds(1), 1000);
    });
    const std::optional<DioTime> begin = [&] {
        std::optional<DioTime> b;
        h.OnUiThread([&] { b = h.TestDlg().m_history.Begin(); });
        return b;
    }();
    view(*begin, 30);
    h.OnUiThread([&] { state = h.TestDlg().m_timeline.State(); });
    std::printf("view: %lld us\n", static_cast<long long>(state.span.count()));
    Print("narrowest zoom (1 ms), 1,000,000 changes in view", Repaints(h, hChart, count), kept);
    return 0;
}
