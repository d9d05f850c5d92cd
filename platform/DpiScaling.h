// Scaling the window's pixel figures to the screen's DPI. The figures are written for 96 DPI
// (100 %); the program is DPI-aware (res/kelvane.manifest), so Windows draws it at the DPI of
// the screen and every fixed pixel figure must grow with it, as the dialog units already do.
#pragma once

// A pixel figure laid out for 96 DPI, scaled to the DPI the screen runs at:
// MulDiv(pixels, dpi, 96), with the DPI read from the screen at each call. At 96 DPI the
// figure comes back as it is.
int ScaleFrom96Dpi(int pixels);
