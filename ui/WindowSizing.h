// The arithmetic of resizing the main window: the limits kept while the frame is dragged and
// the rules by which each control follows a size change.
#pragma once

struct PixelRect {
    int left, top, right, bottom;

    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The log may not become narrower than this while the frame is dragged: 120 pixels at 96 DPI,
// which the window scales to the DPI it runs at.
constexpr int MIN_LOG_WIDTH = 120;

// The edge being dragged, as WM_SIZING reports it (WMSZ_LEFT .. WMSZ_BOTTOMRIGHT).
constexpr int SIZING_EDGE_LEFT = 1, SIZING_EDGE_RIGHT = 2, SIZING_EDGE_TOP = 3,
              SIZING_EDGE_TOPLEFT = 4, SIZING_EDGE_TOPRIGHT = 5, SIZING_EDGE_BOTTOM = 6,
              SIZING_EDGE_BOTTOMLEFT = 7, SIZING_EDGE_BOTTOMRIGHT = 8;

// Adjusts the proposed window rectangle in place for the dragged edge: the height becomes at
// least minHeight, the width at least the width at which the log (now logWidth wide) would be
// minLogWidth wide. Changes are measured from the window size of the last layout
// (lastWndWidth, lastWndHeight); only the dragged edge moves, the opposite one stays. Any edge
// other than 1..8 leaves the rectangle unchanged.
void ClampSizingRect(int edge, PixelRect& proposed, int lastWndWidth, int lastWndHeight,
                     int minHeight, int logWidth, int minLogWidth = MIN_LOG_WIDTH);

// How a control follows a size change of dx, dy: GrowBoth adds dx to its width and dy to its
// height, GrowHeight adds dy to its height, MoveBoth moves it by dx and dy, MoveDown moves it
// by dy. The other corner or the size stays.
enum class ResizeRule { GrowBoth, GrowHeight, MoveBoth, MoveDown };
PixelRect ApplyResizeRule(ResizeRule rule, const PixelRect& rect, int dx, int dy);

// Where a minimised window draws its icon: centred in the client area, each half rounded
// toward zero ((client - icon + 1) / 2), so a 32-pixel icon in an empty area stands at -15.
struct PixelPoint {
    int x, y;
};
PixelPoint MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);
