#include "ui/WindowSizing.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

// Found by argument-dependent lookup, so it lives beside PixelRect in the global namespace.
static void PrintTo(const PixelRect& r, std::ostream* out) {
    *out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

namespace {

// The window after the last layout: 600 x 400 at (100, 100), which is also the start-up height,
// with a log 300 pixels wide. The narrowest window keeps the log at 120: 420 pixels.
constexpr int LAST_WIDTH = 600, LAST_HEIGHT = 400, MIN_HEIGHT = 400, LOG_WIDTH = 300;

PixelRect Clamped(int edge, PixelRect proposed, int logWidth = LOG_WIDTH) {
    ClampSizingRect(edge, proposed, LAST_WIDTH, LAST_HEIGHT, MIN_HEIGHT, logWidth);
    return proposed;
}

TEST(WindowSizing, DraggedEdgeStopsAtTheLimitsWhileTheOppositeEdgeStays) {
    struct Case {
        const char* name;
        int edge;
        PixelRect proposed, expected;
    };
    const Case cases[] = {
        {"bottom up", SIZING_EDGE_BOTTOM, {100, 100, 700, 450}, {100, 100, 700, 500}},
        {"top down", SIZING_EDGE_TOP, {100, 150, 700, 500}, {100, 100, 700, 500}},
        {"right to the left", SIZING_EDGE_RIGHT, {100, 100, 400, 500}, {100, 100, 520, 500}},
        {"left to the right", SIZING_EDGE_LEFT, {380, 100, 700, 500}, {280, 100, 700, 500}},
        {"bottom-right in", SIZING_EDGE_BOTTOMRIGHT, {100, 100, 300, 300}, {100, 100, 520, 500}},
        {"top-left in", SIZING_EDGE_TOPLEFT, {500, 400, 700, 500}, {280, 100, 700, 500}},
        {"top-right in", SIZING_EDGE_TOPRIGHT, {100, 400, 300, 500}, {100, 100, 520, 500}},
        {"bottom-left in", SIZING_EDGE_BOTTOMLEFT, {500, 100, 700, 300}, {280, 100, 700, 500}},
        {"growing is free", SIZING_EDGE_BOTTOMRIGHT, {100, 100, 900, 800}, {100, 100, 900, 800}},
        {"narrower than at start-up",
         SIZING_EDGE_RIGHT,
         {100, 100, 600, 500},
         {100, 100, 600, 500}},
        {"exactly at both limits", SIZING_EDGE_TOPLEFT, {280, 100, 700, 500}, {280, 100, 700, 500}},
        {"top never changes the width",
         SIZING_EDGE_TOP,
         {100, 150, 300, 500},
         {100, 100, 300, 500}},
        {"bottom never changes the width",
         SIZING_EDGE_BOTTOM,
         {400, 100, 500, 900},
         {400, 100, 500, 900}},
        {"left never changes the height", SIZING_EDGE_LEFT, {0, 300, 700, 350}, {0, 300, 700, 350}},
        {"right never changes the height",
         SIZING_EDGE_RIGHT,
         {100, 100, 300, 200},
         {100, 100, 520, 200}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Clamped(c.edge, c.proposed), c.expected) << c.name;
    }
}

TEST(WindowSizing, UnknownEdgeLeavesTheRectangleAlone) {
    const PixelRect tiny{100, 100, 110, 110};
    for (int edge : {0, 9, -1, 100}) {
        EXPECT_EQ(Clamped(edge, tiny), tiny) << "edge " << edge;
    }
}

TEST(WindowSizing, LogAlreadyTooNarrowWidensTheWindow) {
    // A log of 100 pixels needs 20 more: the dragged edge moves out even at the same width.
    EXPECT_EQ(Clamped(SIZING_EDGE_RIGHT, {100, 100, 700, 500}, 100),
              (PixelRect{100, 100, 720, 500}));
    EXPECT_EQ(Clamped(SIZING_EDGE_LEFT, {100, 100, 700, 500}, 100), (PixelRect{80, 100, 700, 500}));
}

TEST(WindowSizing, ScaledMinimumLogWidthBoundsTheWidth) {
    // 150 %: the log keeps 180 pixels, so the window stays 600 - (300 - 180) wide.
    PixelRect proposed{100, 100, 300, 500};
    ClampSizingRect(SIZING_EDGE_RIGHT, proposed, LAST_WIDTH, LAST_HEIGHT, MIN_HEIGHT, LOG_WIDTH,
                    180);
    EXPECT_EQ(proposed, (PixelRect{100, 100, 580, 500}));
}

TEST(WindowSizing, ExtremeRectanglesDoNotOverflow) {
    PixelRect huge{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    ClampSizingRect(SIZING_EDGE_BOTTOMRIGHT, huge, 10, 10, 10, 200);
    EXPECT_EQ(huge, (PixelRect{INT_MIN, INT_MIN, INT_MAX, INT_MAX}));
    PixelRect reversed{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    ClampSizingRect(SIZING_EDGE_TOPLEFT, reversed, INT_MAX, INT_MAX, INT_MAX, INT_MIN);
    EXPECT_EQ(reversed.right, INT_MIN);
    EXPECT_EQ(reversed.bottom, INT_MIN);
}

TEST(WindowSizing, ResizeRulesMoveOrGrowByTheChange) {
    const PixelRect rect{10, 20, 110, 70};
    struct Case {
        ResizeRule rule;
        int dx, dy;
        PixelRect expected;
    };
    const Case cases[] = {
        {ResizeRule::GrowBoth, 50, 40, {10, 20, 160, 110}},
        {ResizeRule::GrowHeight, 50, 40, {10, 20, 110, 110}},
        {ResizeRule::MoveBoth, 50, 40, {60, 60, 160, 110}},
        {ResizeRule::MoveDown, 50, 40, {10, 60, 110, 110}},
        {ResizeRule::GrowBoth, -30, -15, {10, 20, 80, 55}},
        {ResizeRule::GrowHeight, -30, -15, {10, 20, 110, 55}},
        {ResizeRule::MoveBoth, -30, -15, {-20, 5, 80, 55}},
        {ResizeRule::MoveDown, -30, -15, {10, 5, 110, 55}},
        {ResizeRule::GrowBoth, 0, 0, rect},
        {ResizeRule::MoveBoth, 0, 0, rect},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ApplyResizeRule(c.rule, rect, c.dx, c.dy), c.expected)
            << "rule " << static_cast<int>(c.rule) << ", dx " << c.dx << ", dy " << c.dy;
    }
    // Large changes saturate instead of wrapping.
    EXPECT_EQ(ApplyResizeRule(ResizeRule::MoveDown, {0, INT_MAX - 5, 0, INT_MAX}, 0, 100).bottom,
              INT_MAX);
}

} // namespace

TEST(WindowSizing, MinimisedIconIsCentredWithHalvesRoundedTowardZero) {
    const PixelPoint empty = MinimisedIconOrigin(0, 0, 32, 32);
    EXPECT_EQ(empty.x, -15);
    EXPECT_EQ(empty.y, -15);
    const PixelPoint odd = MinimisedIconOrigin(100, 50, 32, 32);
    EXPECT_EQ(odd.x, 34);
    EXPECT_EQ(odd.y, 9);
    const PixelPoint small = MinimisedIconOrigin(16, 15, 16, 16);
    EXPECT_EQ(small.x, 0);
    EXPECT_EQ(small.y, 0);
}
