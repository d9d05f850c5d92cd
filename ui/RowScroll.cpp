// The arithmetic of the row panel's scroll bar.
#include "ui/RowScroll.h"

#include <algorithm>
#include <climits>

namespace {

// Sums and differences are worked in 64 bits and brought back into range, so that no state of
// the bar (however odd) overflows.
int ClampToInt(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace

int RowContentHeight(int rowCount, const RowFigures& rows) {
    return ClampToInt(static_cast<long long>(rows.pitch) * rowCount + rows.firstTop);
}

RowScrollLayout ComputeRowScroll(int rowCount, int pageHeight, int currentPos,
                                 const RowFigures& rows) {
    const int content = RowContentHeight(rowCount, rows);
    if (pageHeight >= content) {
        return {true, {0, content, pageHeight, 0}};
    }
    int pos = currentPos;
    if (static_cast<long long>(pos) + pageHeight > content) {
        pos = ClampToInt(static_cast<long long>(content) - pageHeight);
    }
    return {false, {0, content, pageHeight, pos}};
}

int ComputeScrollPosition(int code, int thumbPos, const ScrollBarState& bar, int lineStep) {
    if (code == SCROLL_THUMBPOSITION || code == SCROLL_THUMBTRACK) {
        // Dragging moves the rows live, to wherever the thumb is.
        return thumbPos;
    }

    const long long current = bar.nPos;
    const long long lowest = bar.nMin;
    const long long highest = static_cast<long long>(bar.nMax) - bar.nPage;
    long long pos = current;
    switch (code) {
    case SCROLL_LINEUP:
        pos = std::max(current - lineStep, lowest);
        break;
    case SCROLL_LINEDOWN:
        pos = std::min(current + lineStep, highest);
        break;
    case SCROLL_PAGEUP:
        pos = std::max(current - bar.nPage, lowest);
        break;
    case SCROLL_PAGEDOWN:
        pos = std::min(current + bar.nPage, highest);
        break;
    case SCROLL_TOP:
        pos = lowest;
        break;
    case SCROLL_BOTTOM:
        pos = highest;
        break;
    default:
        // SB_ENDSCROLL and anything after it leave the rows where they are.
        break;
    }
    // A panel taller than its rows has nMax - nPage below nMin: the rows must still never be
    // scrolled above the top of the panel.
    if (highest < lowest && pos < lowest) {
        pos = lowest;
    }
    return ClampToInt(pos);
}
