// Numeric IPv4 addresses as text: "a.b.c.d", four decimal numbers from 0 to 255.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Accepts exactly four dot-separated decimal numbers of 1 to 3 digits, each at most 255;
// nothing else (no names, no spaces, no shortened forms). address is in host byte order.
bool ParseIpv4Address(std::string_view text, std::uint32_t& address);
std::string FormatIpv4Address(std::uint32_t address);
