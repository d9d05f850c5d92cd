// The DIO number typed into a range box.
#include "protocol/DioNumberText.h"

#include <climits>
#include <cstddef>

namespace {

// The white space atoi skips in the "C" locale.
constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int ParseDioNumber(std::string_view text) {
    std::size_t pos = 0;
    const std::size_t size = text.size();
    while (pos < size && IsSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < size && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    // Accumulated as a magnitude that stops growing once it passes what an int can hold, so
    // any number of digits is read without overflow.
    constexpr long long LIMIT = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; pos < size && IsDigit(text[pos]); ++pos) {
        if (magnitude <= LIMIT) {
            magnitude = magnitude * 10 + (text[pos] - '0');
        }
    }
    if (negative) {
        return magnitude >= LIMIT ? INT_MIN : static_cast<int>(-magnitude);
    }
    return magnitude >= INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}
