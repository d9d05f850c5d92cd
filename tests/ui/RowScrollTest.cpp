#include "ui/RowScroll.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(RowScroll, ContentHeightOfTheRows) {
    EXPECT_EQ(RowContentHeight(4), 130);
    EXPECT_EQ(RowContentHeight(9), 280);
    EXPECT_EQ(RowContentHeight(0), 10);
    EXPECT_EQ(RowContentHeight(32), 970);
}

TEST(RowScroll, ScaledFiguresSetTheContentAndTheLineStep) {
    // 150 %: rows 45 pixels apart, the first 15 below the top, an arrow click 30.
    const RowFigures rows{45, 15, 30};
    EXPECT_EQ(RowContentHeight(9, rows), 420);
    const RowScrollLayout layout = ComputeRowScroll(9, 150, 400, rows);
    EXPECT_EQ(layout.bar.nMax, 420);
    EXPECT_EQ(layout.bar.nPos, 270);
    EXPECT_EQ(ComputeScrollPosition(SCROLL_LINEDOWN, 0, {0, 420, 150, 0}, rows.lineStep), 30);
    EXPECT_EQ(ComputeScrollPosition(SCROLL_LINEUP, 0, {0, 420, 150, 100}, rows.lineStep), 70);
}

TEST(RowScroll, BarFollowsRowCountAndPanelHeight) {
    struct Case {
        const char* name;
        int rows, page, currentPos;
        bool fits;
        ScrollBarState bar;
    };
    const Case cases[] = {
        {"4 rows in a short panel", 4, 100, 0, false, {0, 130, 100, 0}},
        {"4 rows, panel exactly as tall fits", 4, 130, 0, true, {0, 130, 130, 0}},
        {"4 rows, panel one pixel short", 4, 129, 1, false, {0, 130, 129, 1}},
        {"fitting rows lose their scroll", 4, 200, 25, true, {0, 130, 200, 0}},
        {"9 rows keep their position", 9, 100, 120, false, {0, 280, 100, 120}},
        {"9 rows at the bottom stay there", 9, 100, 180, false, {0, 280, 100, 180}},
        {"position past the bottom is lowered", 9, 100, 200, false, {0, 280, 100, 180}},
        {"taller panel at the bottom lowers the position", 9, 150, 180, false, {0, 280, 150, 130}},
        {"panel tall enough for all 9 rows", 9, 280, 50, true, {0, 280, 280, 0}},
        {"9 rows at the bottom rebuilt as 4 that fit", 4, 200, 180, true, {0, 130, 200, 0}},
        {"empty panel", 9, 0, 300, false, {0, 280, 0, 280}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RowScrollLayout layout = ComputeRowScroll(c.rows, c.page, c.currentPos);
        EXPECT_EQ(layout.fits, c.fits);
        EXPECT_EQ(layout.bar.nMin, c.bar.nMin);
        EXPECT_EQ(layout.bar.nMax, c.bar.nMax);
        EXPECT_EQ(layout.bar.nPage, c.bar.nPage);
        EXPECT_EQ(layout.bar.nPos, c.bar.nPos);
    }
}

TEST(RowScroll, ScrollCodesMoveWithinTheRange) {
    // 9 rows in a 100-pixel panel: positions 0 to 180.
    struct Case {
        int code, thumbPos, current, expected;
    };
    const Case cases[] = {
        {SCROLL_LINEUP, 0, 50, 30},
        {SCROLL_LINEUP, 0, 10, 0},
        {SCROLL_LINEUP, 0, 0, 0},
        {SCROLL_LINEDOWN, 0, 150, 170},
        {SCROLL_LINEDOWN, 0, 170, 180},
        {SCROLL_LINEDOWN, 0, 180, 180},
        {SCROLL_PAGEUP, 0, 150, 50},
        {SCROLL_PAGEUP, 0, 60, 0},
        {SCROLL_PAGEDOWN, 0, 50, 150},
        {SCROLL_PAGEDOWN, 0, 100, 180},
        {SCROLL_THUMBPOSITION, 77, 10, 77},
        {SCROLL_THUMBTRACK, 123, 10, 123},
        {SCROLL_THUMBTRACK, 0, 90, 0},
        {SCROLL_TOP, 0, 90, 0},
        {SCROLL_BOTTOM, 0, 90, 180},
        {8, 55, 90, 90},
        {9, 55, 90, 90},
        {1000, 55, 90, 90},
        {-1, 55, 90, 90},
    };
    for (const Case& c : cases) {
        const ScrollBarState bar{0, 280, 100, c.current};
        EXPECT_EQ(ComputeScrollPosition(c.code, c.thumbPos, bar), c.expected)
            << "code " << c.code << " from " << c.current;
    }
}

TEST(RowScroll, RepeatedStepsStopExactlyAtTheEnds) {
    for (int code : {SCROLL_LINEDOWN, SCROLL_PAGEDOWN}) {
        ScrollBarState bar{0, 280, 100, 0};
        for (int i = 0; i < 20; ++i) {
            bar.nPos = ComputeScrollPosition(code, 0, bar);
        }
        EXPECT_EQ(bar.nPos, 180) << "code " << code;
    }
    for (int code : {SCROLL_LINEUP, SCROLL_PAGEUP}) {
        ScrollBarState bar{0, 280, 100, 180};
        for (int i = 0; i < 20; ++i) {
            bar.nPos = ComputeScrollPosition(code, 0, bar);
        }
        EXPECT_EQ(bar.nPos, 0) << "code " << code;
    }
}

TEST(RowScroll, PanelTallerThanItsRowsIsNeverScrolledAboveTheTop) {
    // 4 rows (130 pixels) in a 200-pixel panel: nMax - nPage is -70.
    for (int code : {SCROLL_LINEUP, SCROLL_LINEDOWN, SCROLL_PAGEUP, SCROLL_PAGEDOWN, SCROLL_TOP,
                     SCROLL_BOTTOM, 8, 42}) {
        EXPECT_EQ(ComputeScrollPosition(code, 0, {0, 130, 200, 0}), 0) << "code " << code;
        EXPECT_EQ(ComputeScrollPosition(code, 0, {0, 130, 200, -10}), 0) << "code " << code;
        EXPECT_EQ(ComputeScrollPosition(code, 0, {5, 130, 200, 5}), 5) << "code " << code;
    }
    // The thumb codes still take the position as carried.
    EXPECT_EQ(ComputeScrollPosition(SCROLL_THUMBTRACK, 0, {0, 130, 200, 0}), 0);
    EXPECT_EQ(ComputeScrollPosition(SCROLL_THUMBPOSITION, 3, {0, 130, 200, 0}), 3);
    // A bar exactly as tall as its content stays at 0 too.
    EXPECT_EQ(ComputeScrollPosition(SCROLL_BOTTOM, 0, {0, 130, 130, 0}), 0);
}

TEST(RowScroll, ExtremeBarsDoNotOverflow) {
    EXPECT_EQ(ComputeScrollPosition(SCROLL_LINEUP, 0, {INT_MIN, 0, 0, INT_MIN}), INT_MIN);
    EXPECT_EQ(ComputeScrollPosition(SCROLL_LINEDOWN, 0, {0, INT_MAX, -10, INT_MAX}), INT_MAX);
    EXPECT_EQ(ComputeScrollPosition(SCROLL_BOTTOM, 0, {0, INT_MAX, INT_MIN, 0}), INT_MAX);
    EXPECT_EQ(RowContentHeight(INT_MAX), INT_MAX);
    EXPECT_EQ(ComputeRowScroll(9, INT_MIN, INT_MAX).bar.nPos, INT_MAX);
}

} // namespace
