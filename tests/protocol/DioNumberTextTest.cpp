#include "protocol/DioNumberText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

namespace {

TEST(DioNumberText, ReadsLikeAtoi) {
    struct Case {
        std::string_view text;
        int expected;
    };
    const Case cases[] = {
        {"", 0},
        {"0", 0},
        {"7", 7},
        {"300", 300},
        {"007", 7},
        {"  12", 12},
        {"\t\n\v\f\r 5", 5},
        {"+4", 4},
        {"-3", -3},
        {"-0", 0},
        {"12abc", 12},
        {"3 4", 3},
        {"1.9", 1},
        {"abc", 0},
        {"-", 0},
        {"+", 0},
        {"+-1", 0},
        {"- 1", 0},
        {" ", 0},
        {"x12", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"0x1F", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseDioNumber(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(DioNumberText, ValuesBeyondThirtyTwoBitsSaturate) {
    EXPECT_EQ(ParseDioNumber("2147483648"), INT_MAX);
    EXPECT_EQ(ParseDioNumber("99999999999"), INT_MAX);
    EXPECT_EQ(ParseDioNumber("-2147483649"), INT_MIN);
    EXPECT_EQ(ParseDioNumber("-99999999999"), INT_MIN);
    EXPECT_EQ(ParseDioNumber(std::string(5000, '9')), INT_MAX);
    EXPECT_EQ(ParseDioNumber("-" + std::string(5000, '9')), INT_MIN);
    // Leading zeros do not count towards the size.
    EXPECT_EQ(ParseDioNumber(std::string(40, '0') + "42"), 42);
}

TEST(DioNumberText, StopsAtTheEndOfTheView) {
    const char text[] = "12345";
    EXPECT_EQ(ParseDioNumber(std::string_view(text, 2)), 12);
    EXPECT_EQ(ParseDioNumber(std::string_view(text, 0)), 0);
    const char spaces[] = "   9";
    EXPECT_EQ(ParseDioNumber(std::string_view(spaces, 3)), 0);
    const char sign[] = "-8";
    EXPECT_EQ(ParseDioNumber(std::string_view(sign, 1)), 0);
    // An embedded NUL ends the number like any other non-digit.
    EXPECT_EQ(ParseDioNumber(std::string_view("4\0"
                                              "5",
                                              3)),
              4);
}

TEST(DioNumberText, AgreesWithTheCLibraryOnRandomTexts) {
    // strtoll saturates at the 64-bit range; brought into the int range it is what the box
    // reads.
    static constexpr char ALPHABET[] = " \t+-0123456789x.";
    std::mt19937 random(11);
    for (int run = 0; run < 20000; ++run) {
        std::string text(random() % 24, ' ');
        for (char& c : text) {
            c = ALPHABET[random() % (sizeof ALPHABET - 1)];
        }
        const long long wide = std::strtoll(text.c_str(), nullptr, 10);
        const int expected = static_cast<int>(std::clamp<long long>(wide, INT_MIN, INT_MAX));
        ASSERT_EQ(ParseDioNumber(text), expected) << '"' << text << '"';
    }
}

} // namespace
