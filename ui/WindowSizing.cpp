// The arithmetic of resizing the main window.
#include "ui/WindowSizing.h"

#include <algorithm>
#include <climits>

namespace {

// Worked in 64 bits and brought back into range, so that no rectangle (however odd) overflows.
int ClampToInt(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace

void ClampSizingRect(int edge, PixelRect& proposed, int lastWndWidth, int lastWndHeight,
                     int minHeight, int logWidth, int minLogWidth) {
    if (edge < SIZING_EDGE_LEFT || edge > SIZING_EDGE_BOTTOMRIGHT) {
        return;
    }

    long long dw = static_cast<long long>(proposed.right) - proposed.left - lastWndWidth;
    long long dh = static_cast<long long>(proposed.bottom) - proposed.top - lastWndHeight;
    // Never shorter than at start-up.
    if (lastWndHeight + dh < minHeight) {
        dh = static_cast<long long>(minHeight) - lastWndHeight;
    }
    // The log column takes all the change of width, so it bounds how narrow the window gets.
    if (logWidth + dw < minLogWidth) {
        dw = static_cast<long long>(minLogWidth) - logWidth;
    }
    const long long width = lastWndWidth + dw;
    const long long height = lastWndHeight + dh;

    // The height first, then the width; the edge opposite the dragged one stays where it is.
    switch (edge) {
    case SIZING_EDGE_TOP:
    case SIZING_EDGE_TOPLEFT:
    case SIZING_EDGE_TOPRIGHT:
        proposed.top = ClampToInt(proposed.bottom - height);
        break;
    case SIZING_EDGE_BOTTOM:
    case SIZING_EDGE_BOTTOMLEFT:
    case SIZING_EDGE_BOTTOMRIGHT:
        proposed.bottom = ClampToInt(proposed.top + height);
        break;
    default:
        break;
    }
    switch (edge) {
    case SIZING_EDGE_LEFT:
    case SIZING_EDGE_TOPLEFT:
    case SIZING_EDGE_BOTTOMLEFT:
        proposed.left = ClampToInt(proposed.right - width);
        break;
    case SIZING_EDGE_RIGHT:
    case SIZING_EDGE_TOPRIGHT:
    case SIZING_EDGE_BOTTOMRIGHT:
        proposed.right = ClampToInt(proposed.left + width);
        break;
    default:
        break;
    }
}

PixelRect ApplyResizeRule(ResizeRule rule, const PixelRect& rect, int dx, int dy) {
    PixelRect moved = rect;
    switch (rule) {
    case ResizeRule::GrowBoth:
        moved.right = ClampToInt(static_cast<long long>(rect.right) + dx);
        moved.bottom = ClampToInt(static_cast<long long>(rect.bottom) + dy);
        break;
    case ResizeRule::GrowHeight:
        moved.bottom = ClampToInt(static_cast<long long>(rect.bottom) + dy);
        break;
    case ResizeRule::MoveBoth:
        moved.left = ClampToInt(static_cast<long long>(rect.left) + dx);
        moved.right = ClampToInt(static_cast<long long>(rect.right) + dx);
        moved.top = ClampToInt(static_cast<long long>(rect.top) + dy);
        moved.bottom = ClampToInt(static_cast<long long>(rect.bottom) + dy);
        break;
    case ResizeRule::MoveDown:
        moved.top = ClampToInt(static_cast<long long>(rect.top) + dy);
        moved.bottom = ClampToInt(static_cast<long long>(rect.bottom) + dy);
        break;
    }
    return moved;
}

PixelPoint MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}
