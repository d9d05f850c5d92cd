// The arithmetic of the row panel's scroll bar: the content height of the rows, the bar's
// range after a rebuild or a resize, and the new position for each scroll code.
#pragma once

// Rows stand 30 pixels apart, the first 10 pixels below the top; an arrow click scrolls 20.
// These are the figures at 96 DPI. The window scales them to the DPI it runs at and passes
// them in; without them the arithmetic works with the 96-DPI figures.
constexpr int ROW_PITCH = 30, ROW_FIRST_TOP = 10, ROW_LINE_STEP = 20;

struct RowFigures {
    int pitch, firstTop, lineStep;
};
constexpr RowFigures ROW_FIGURES_96DPI{ROW_PITCH, ROW_FIRST_TOP, ROW_LINE_STEP};

// The scroll codes of WM_VSCROLL.
constexpr int SCROLL_LINEUP = 0, SCROLL_LINEDOWN = 1, SCROLL_PAGEUP = 2, SCROLL_PAGEDOWN = 3,
              SCROLL_THUMBPOSITION = 4, SCROLL_THUMBTRACK = 5, SCROLL_TOP = 6, SCROLL_BOTTOM = 7;

// Height of the content of rowCount rows: pitch * count + first top, 30 * count + 10 at 96 DPI
// (the last row's buttons end 10 pixels above the bottom).
int RowContentHeight(int rowCount, const RowFigures& rows = ROW_FIGURES_96DPI);

struct ScrollBarState {
    int nMin, nMax, nPage, nPos;
};

struct RowScrollLayout {
    bool fits;
    ScrollBarState bar;
};

// The scroll bar after the row count or the panel's height changed. The rows fit when the page
// is at least the content: the bar spans 0..content with position 0 (and is to be disabled).
// Otherwise the position stays currentPos, lowered to content - page when currentPos + page
// would pass the content.
RowScrollLayout ComputeRowScroll(int rowCount, int pageHeight, int currentPos,
                                 const RowFigures& rows = ROW_FIGURES_96DPI);

// The new position for a scroll code, from the bar's current state: a line is lineStep pixels
// (20 at 96 DPI), a page is nPage, steps stop at nMin and nMax - nPage. The thumb codes take
// thumbPos as carried; unknown codes (8 and up) keep bar.nPos. Except for the thumb codes, the
// result is never below nMin, even when the content is shorter than the page.
int ComputeScrollPosition(int code, int thumbPos, const ScrollBarState& bar,
                          int lineStep = ROW_LINE_STEP);
