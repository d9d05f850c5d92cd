// The DIO number typed into a range box.
#pragma once

#include <string_view>

// Reads the number the way atoi does: leading white space skipped, an optional sign, then the
// decimal digits that follow; anything else ends the number, and no digits give 0. A value
// beyond the 32-bit range saturates to INT_MAX or INT_MIN. Never reads past the view.
int ParseDioNumber(std::string_view text);
