// The port the operator typed, as the connection uses it.
#pragma once

#include <cstdint>
#include <string_view>

// Reads the text as a decimal number the way atoi reads it (leading white space, an optional
// sign, the digits that follow; 0 without digits) and narrows it to 16 bits. Every number is
// taken modulo 65536, so a number too long for any integer type still has a defined port.
std::uint16_t ParsePortNumber(std::string_view text);
