#include "connection/PortNumber.h"

std::uint16_t ParsePortNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::uint32_t value = 0; // the number modulo 65536, kept below 65536 at every step
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = (value * 10 + static_cast<std::uint32_t>(text[i] - '0')) & 0xFFFFu;
    return static_cast<std::uint16_t>(negative ? (0x10000u - value) & 0xFFFFu : value);
}
