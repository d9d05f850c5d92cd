#include "connection/PortNumber.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

TEST(PortNumber, ReadsLikeAtoiNarrowedToSixteenBitsAndWrapsBeyond) {
    // Wherever atoi is defined, the port is its result narrowed to 16 bits.
    for (const char* text : {"", "0", "5001", "65535", "65536", "70000", " \t42", "+80", "-1",
                             "-65537", "12ab", "abc", "2147483647", "-2147483648", "007"})
        EXPECT_EQ(ParsePortNumber(text), static_cast<std::uint16_t>(std::atoi(text))) << text;
    // Past any integer type the number is still taken modulo 65536: 10^20 mod 65536 = 0, and
    // 18446744073709551617 = 2^64 + 1.
    EXPECT_EQ(ParsePortNumber("100000000000000000000"), 0);
    EXPECT_EQ(ParsePortNumber("18446744073709551617"), 1);
    EXPECT_EQ(ParsePortNumber("99999999999999999999"), 65535);
}
