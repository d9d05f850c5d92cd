#include "connection/DioHistory.h"
#include "protocol/DioReplyParser.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {
using std::chrono::microseconds;

DioTime At(std::int64_t us) {
    return DioTime(microseconds(us));
}

DioValue V(int mode, int state) {
    return {static_cast<std::int8_t>(mode), static_cast<std::int8_t>(state)};
}

void Report(CDioHistory& history, std::int64_t us, std::vector<DioReport> reports) {
    history.RecordReports(At(us), reports.data(), reports.size());
}

std::vector<DioSample> Lane(const CDioHistory& history, int dio) {
    const DioHistorySnapshot snapshot = history.Snapshot();
    return static_cast<std::size_t>(dio) < snapshot.lanes.size()
               ? snapshot.lanes[static_cast<std::size_t>(dio)]
               : std::vector<DioSample>{};
}

// The parser's calls, a frame at a time, as the receive worker hands them to the history.
class CFrameSink final : public CDioReplySink {
public:
    int GetRowCount() final { return 9; }
    int GetPendingStart() final { return 0; }
    void ClearPendingStart() final { m_frame.EndFrame(); }
    void SetRowMode(int row, int value) final { m_frame.SetMode(row, value); }
    void SetRowState(int row, int value) final { m_frame.SetState(row, value); }
    CDioFrameReports m_frame;
};
} // namespace

TEST(DioHistory, RecordsOnlyValuesThatDifferFromTheLastKnown) {
    CDioHistory history;
    EXPECT_EQ(history.LastKnown(2), DioValue{});
    Report(history, 10, {{2, V(1, 0)}});
    Report(history, 20, {{2, V(1, 0)}});  // a repeat
    Report(history, 30, {{2, V(-1, 1)}}); // the state alone: the mode stays known
    Report(history, 40, {{2, V(1, -1)}}); // the mode alone, the same as known
    Report(history, 50, {{2, V(0, 0)}});  // both at once: one change
    EXPECT_EQ(Lane(history, 2),
              (std::vector<DioSample>{{At(10), V(1, 0)}, {At(30), V(1, 1)}, {At(50), V(0, 0)}}));
    EXPECT_EQ(history.LastKnown(2), V(0, 0));
    EXPECT_EQ(history.ValueAt(2, At(29)), V(1, 0));
    EXPECT_EQ(history.ValueAt(2, At(30)), V(1, 1));
    EXPECT_EQ(history.ValueAt(2, At(9)), DioValue{});
    EXPECT_EQ(history.ValueAt(7, At(30)), DioValue{});

    // The end of a connection makes every DIO not known: the same reply on the next one counts.
    history.RecordConnected(At(55), "10.0.0.7:5001");
    history.RecordEnded(At(60), ConnectionEventKind::ClosedByDevice);
    EXPECT_EQ(history.ValueAt(2, At(60)), DioValue{});
    Report(history, 70, {{2, V(0, 0)}});
    EXPECT_EQ(history.ValueAt(2, At(70)), V(0, 0));
    EXPECT_EQ(history.Size(), 5u);
    EXPECT_EQ(history.Events(), (std::vector<ConnectionEvent>{
                                    {At(55), ConnectionEventKind::Connected, "10.0.0.7:5001"},
                                    {At(60), ConnectionEventKind::ClosedByDevice, ""}}));
}

TEST(DioHistory, AReplyFrameMakesOneChangeHoweverItsChunksFall) {
    // A single read of DIO 3 as Output/High, then a range read of DIOs 0-1, cut after the
    // single read's mode byte and inside the range reply.
    const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x00, 0x03, 0x03, 0x01, 0x01, 0x05,
                                             0x02, 0x00, 0x04, 0x01, 0x00, 0x01, 0x01};
    CDioReplyParser parser;
    CFrameSink sink;
    CDioHistory history;
    parser.Feed(bytes.data(), 6, sink);
    EXPECT_TRUE(sink.m_frame.Reports().empty()) << "the frame has not ended";
    parser.Feed(bytes.data() + 6, 6, sink);
    history.RecordReports(At(100), sink.m_frame.Reports().data(), sink.m_frame.Reports().size());
    sink.m_frame.Reports().clear();
    parser.Feed(bytes.data() + 12, bytes.size() - 12, sink);
    history.RecordReports(At(200), sink.m_frame.Reports().data(), sink.m_frame.Reports().size());
    EXPECT_EQ(Lane(history, 3), (std::vector<DioSample>{{At(100), V(1, 1)}}));
    EXPECT_EQ(Lane(history, 0), (std::vector<DioSample>{{At(200), V(1, 0)}}));
    EXPECT_EQ(Lane(history, 1), (std::vector<DioSample>{{At(200), V(1, 1)}}));
}

TEST(DioHistory, KeepsItsBoundDroppingTheOldestAndTheValueTheyLeft) {
    constexpr std::size_t kKeep = 100;
    CDioHistory history(kKeep);
    // DIO 0 changes at every step; DIO 1 once, at the start.
    Report(history, 5, {{1, V(1, 1)}});
    for (int i = 0; i < 1000; ++i) {
        Report(history, 10 + i, {{0, V(0, i % 2)}});
        ASSERT_LE(history.Size(), kKeep + kKeep / 16);
    }
    EXPECT_GE(history.Size(), kKeep);
    EXPECT_TRUE(history.Forgotten());
    const std::vector<DioSample> lane0 = Lane(history, 0);
    ASSERT_FALSE(lane0.empty());
    // The newest changes stay; the first sample stands for those that went.
    EXPECT_EQ(lane0.back(), (DioSample{At(1009), V(0, 1)}));
    EXPECT_EQ(history.Begin(), At(5)) << "DIO 1 is known from then on";
    EXPECT_EQ(history.ValueAt(0, lane0.front().time - microseconds(1)), DioValue{});
    EXPECT_EQ(history.ValueAt(0, lane0.front().time), lane0.front().value);
    // DIO 1's only change was the oldest of all: it went, and its value stays from then on.
    EXPECT_EQ(Lane(history, 1), (std::vector<DioSample>{{At(5), V(1, 1)}}));
    EXPECT_EQ(history.ValueAt(1, At(1009)), V(1, 1));
    for (std::size_t i = 1; i < lane0.size(); ++i)
        EXPECT_EQ(lane0[i].time - lane0[i - 1].time, microseconds(1)) << "a gap at " << i;

    // Clear empties the history; what was last known is the value from then on.
    history.Clear(At(2000));
    EXPECT_EQ(history.Size(), 0u);
    EXPECT_FALSE(history.Forgotten());
    EXPECT_EQ(Lane(history, 0), (std::vector<DioSample>{{At(2000), V(0, 1)}}));
    EXPECT_EQ(history.ValueAt(0, At(1999)), DioValue{});
    Report(history, 2001, {{0, V(0, 1)}});
    EXPECT_EQ(history.Size(), 0u) << "still the known value";
}

TEST(DioHistory, KeepsTimeOrderWhenTheClockGoesBack) {
    CDioHistory history;
    Report(history, 1000, {{0, V(0, 1)}});
    Report(history, 400, {{0, V(0, 0)}, {1, V(1, 1)}}); // the clock was set back
    EXPECT_EQ(Lane(history, 0), (std::vector<DioSample>{{At(1000), V(0, 1)}, {At(1000), V(0, 0)}}));
    EXPECT_EQ(Lane(history, 1), (std::vector<DioSample>{{At(1000), V(1, 1)}}));
    history.RecordEnded(At(10), ConnectionEventKind::Reset);
    EXPECT_EQ(history.Events().back().time, At(1000));
    EXPECT_EQ(history.ValueAt(0, At(999)), DioValue{});
    EXPECT_EQ(history.ValueAt(0, At(1000)), DioValue{}) << "the last of equal times counts";
}

TEST(DioHistory, ColumnSummariesMatchTheValuesInside) {
    // Random changes, some at equal times, some dropped: every column's start value is the
    // value just before it, and it is marked changed exactly when a change falls inside.
    std::mt19937 random(7);
    CDioHistory history(3000);
    std::int64_t t = 1'000'000;
    for (int i = 0; i < 5000; ++i) {
        t += static_cast<std::int64_t>(random() % 40);
        Report(history, t,
               {{0, V(static_cast<int>(random() % 2), static_cast<int>(random() % 2))}});
    }
    const std::vector<DioSample> lane = Lane(history, 0);
    for (int columns : {1, 7, 640}) {
        const DioTime start = lane.front().time - microseconds(50);
        const microseconds span(t + 100 - start.time_since_epoch().count());
        std::vector<DioColumn> out(static_cast<std::size_t>(columns));
        history.SummariseLane(0, start, span, columns, out.data());
        for (int c = 0; c < columns; ++c) {
            const DioTime from = start + span * c / columns;
            const DioTime to = start + span * (c + 1) / columns;
            bool inside = false;
            for (const DioSample& sample : lane)
                inside = inside || (sample.time >= from && sample.time < to);
            const auto column = out[static_cast<std::size_t>(c)];
            ASSERT_EQ(column.atStart, history.ValueAt(0, from - microseconds(1)))
                << columns << " columns, column " << c;
            ASSERT_EQ(column.changed, inside) << columns << " columns, column " << c;
        }
    }
}
