#include "ui/Timeline.h"

#include <gtest/gtest.h>

namespace {
using std::chrono::hours;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

// 2026-12-09 13:03:27.000 UTC, and a moment so many microseconds later.
DioTime At(std::int64_t us) {
    return DioTime(microseconds(1'796'821'407'000'000 + us));
}
} // namespace

TEST(TimelineView, ZoomsAlongTheLadderWithinItsLimits) {
    EXPECT_EQ(ZoomedSpan(seconds(10), 1), seconds(5));
    EXPECT_EQ(ZoomedSpan(seconds(10), -1), seconds(20));
    EXPECT_EQ(ZoomedSpan(seconds(10), -3), minutes(1));
    EXPECT_EQ(ZoomedSpan(milliseconds(2), 5), TIMELINE_MIN_SPAN);
    EXPECT_EQ(ZoomedSpan(minutes(30), -5), TIMELINE_MAX_SPAN);
    // From between two spans (after Fit), the first step is to the next one that way.
    EXPECT_EQ(ZoomedSpan(seconds(7), 1), seconds(5));
    EXPECT_EQ(ZoomedSpan(seconds(7), -1), seconds(10));
    EXPECT_EQ(ZoomedSpan(hours(3), -1), hours(3));
    EXPECT_EQ(ZoomedSpan(hours(3), 1), hours(1));
}

TEST(TimelineView, FollowsUntilPannedBackAndKeepsWithinTheData) {
    CTimelineView view;
    const DioTime begin = At(0);
    DioTime now = At(60'000'000);
    view.Update(begin, now);
    ASSERT_TRUE(view.Following());
    EXPECT_EQ(view.End(), now);
    now += seconds(1);
    view.Update(begin, now);
    EXPECT_EQ(view.End(), now) << "the right edge tracks the present";

    // Zooming while following keeps the present at the right edge.
    view.Zoom(1, view.Start(), begin, now);
    EXPECT_EQ(view.Span(), seconds(5));
    EXPECT_EQ(view.End(), now);
    // Panning forward changes nothing; back ends Follow.
    view.PanBy(seconds(2), begin, now);
    EXPECT_TRUE(view.Following());
    view.PanBy(-seconds(2), begin, now);
    EXPECT_FALSE(view.Following());
    EXPECT_EQ(view.End(), now - seconds(2));
    now += seconds(1);
    view.Update(begin, now);
    EXPECT_EQ(view.End(), now - seconds(3)) << "no longer following";
    // Not before the data, not past the present.
    view.PanBy(-hours(1), begin, now);
    EXPECT_EQ(view.Start(), begin);
    view.PanBy(hours(1), begin, now);
    EXPECT_EQ(view.End(), now);
    EXPECT_FALSE(view.Following());
    view.SetFollow(true, begin, now);
    EXPECT_EQ(view.End(), now);

    // Zooming keeps the anchor at its place on the screen.
    view.SetFollow(false, begin, now);
    const DioTime anchor = view.Start() + seconds(1);
    const int x = view.TimeToX(anchor, 1000);
    view.Zoom(1, anchor, begin, now);
    EXPECT_EQ(view.Span(), seconds(2));
    EXPECT_EQ(view.TimeToX(anchor, 1000), x);

    view.Fit(begin, now);
    EXPECT_EQ(view.Start(), begin);
    EXPECT_EQ(view.End(), now);
    EXPECT_EQ(view.XToTime(view.TimeToX(begin + seconds(31), 620), 620), begin + seconds(31));
}

TEST(TimelineAxis, TicksAtRoundLocalTimesAndReadableSpacing) {
    // 10 s over 1000 pixels, at least 100 pixels apart: a tick a second, on the second.
    auto ticks = TimeAxisTicks(At(-250'000), seconds(10), 1000, 100, hours(1));
    ASSERT_EQ(ticks.size(), 10u);
    EXPECT_EQ(ticks[0].time, At(0));
    EXPECT_EQ(ticks[0].label, "14:03:27");
    EXPECT_EQ(ticks[1].label, "14:03:28");
    // An hour: every 5 minutes, on local minutes of a zone 5:30 ahead.
    ticks = TimeAxisTicks(At(0), hours(1), 1200, 80, hours(5) + minutes(30));
    ASSERT_EQ(ticks.size(), 12u);
    EXPECT_EQ(ticks[0].label, "18:35");
    EXPECT_EQ(ticks[1].label, "18:40");
    // A millisecond: microseconds in the labels.
    ticks = TimeAxisTicks(At(0), milliseconds(1), 1000, 100, seconds(0));
    ASSERT_EQ(ticks.size(), 11u);
    EXPECT_EQ(ticks[1].label, "13:03:27.000100");
    // Zoomed to 200 ms: milliseconds.
    ticks = TimeAxisTicks(At(1'000), milliseconds(200), 800, 100, seconds(0));
    EXPECT_EQ(ticks[0].label, "13:03:27.050");
}

TEST(TimelineReadout, GivesEveryDioAndTheTimeBetweenTheCursors) {
    const std::vector<DioValue> values = {{1, 1}, {0, 0}, {}, {1, -1}};
    EXPECT_EQ(FormatReadout(At(1'500), values, std::nullopt, false, hours(1)),
              "Cursor 14:03:27.001 | DIO0 Output High | DIO1 Input Low | DIO2 not known | "
              "DIO3 Output ?");
    EXPECT_EQ(FormatReadout(At(12'345'678), {{0, 1}}, At(250), true, seconds(0)),
              "Cursor 13:03:39.345678 | DIO0 Input High | Marker 13:03:27.000250, cursor - "
              "marker 12.345428 s");
    EXPECT_EQ(FormatDuration(microseconds(-250)), "-250 us");
    EXPECT_EQ(FormatDuration(microseconds(12'345)), "12.345 ms");
}

TEST(TimelineExport, TheExtensionTypedOrElseTheFilterChoosesTheFormat) {
    EXPECT_EQ(ChooseExportTarget("C:\\logs\\run.CSV", 1).format, ExportFormat::Csv);
    EXPECT_EQ(ChooseExportTarget("C:\\logs\\run.vcd", 2).format, ExportFormat::Vcd);
    const ExportTarget csv = ChooseExportTarget("C:\\logs.d\\run", 2);
    EXPECT_EQ(csv.format, ExportFormat::Csv);
    EXPECT_EQ(csv.path, "C:\\logs.d\\run.csv");
    const ExportTarget other = ChooseExportTarget("C:\\logs\\run.txt", 1);
    EXPECT_EQ(other.format, ExportFormat::Vcd);
    EXPECT_EQ(other.path, "C:\\logs\\run.txt");
}
