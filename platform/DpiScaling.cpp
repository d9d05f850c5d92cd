// Scaling the window's pixel figures to the screen's DPI.
#include "platform/DpiScaling.h"

#include "platform/Win32.h"

int ScaleFrom96Dpi(int pixels) {
    // The program is system-DPI-aware: its windows are drawn at the system DPI, which the
    // screen reports. Horizontal and vertical DPI are the same on every Windows display.
    HDC hScreen = ::GetDC(nullptr);
    const int dpi = hScreen != nullptr ? ::GetDeviceCaps(hScreen, LOGPIXELSY) : 96;
    if (hScreen != nullptr)
        ::ReleaseDC(nullptr, hScreen);
    return ::MulDiv(pixels, dpi > 0 ? dpi : 96, 96);
}
