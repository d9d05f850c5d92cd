#include "app/BuildStamp.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(BuildStamp, MonthNumberFromTheFirstThreeCharacters) {
    const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int expected = 1;
    for (const char* month : months) {
        EXPECT_EQ(BuildMonthNumber((std::string(month) + " 16 2007").c_str()), expected) << month;
        ++expected;
    }
    EXPECT_EQ(BuildMonthNumber("Jul"), 7);
    EXPECT_EQ(BuildMonthNumber("Julyish"), 7);
    // Case-sensitive, no match gives 0, short texts are not read past their end.
    EXPECT_EQ(BuildMonthNumber("jul 16 2007"), 0);
    EXPECT_EQ(BuildMonthNumber("JUL 16 2007"), 0);
    EXPECT_EQ(BuildMonthNumber("Ju"), 0);
    EXPECT_EQ(BuildMonthNumber(""), 0);
    EXPECT_EQ(BuildMonthNumber(nullptr), 0);
}

TEST(BuildStamp, StampIsYearMonthDayHour) {
    EXPECT_EQ(MakeBuildStamp("Jul 16 2007", "11:52:10"), "07071611");
    // A single-digit day keeps the space the date has.
    EXPECT_EQ(MakeBuildStamp("Jul  6 2007", "09:05:00"), "0707 609");
    EXPECT_EQ(MakeBuildStamp("Jan  1 2030", "00:00:00"), "3001 100");
    EXPECT_EQ(MakeBuildStamp("Dec 31 1999", "23:59:59"), "99123123");
    // An unknown month shows as 00.
    EXPECT_EQ(MakeBuildStamp("Foo 16 2007", "11:52:10"), "07001611");
}

TEST(BuildStamp, ShortOrMissingTextsNeverReadPastTheirEnd) {
    EXPECT_EQ(MakeBuildStamp("Jul 16 20", "1"), "??07161?");
    EXPECT_EQ(MakeBuildStamp("", ""), "??00????");
    EXPECT_EQ(MakeBuildStamp(nullptr, nullptr), "??00????");
    EXPECT_EQ(MakeBuildStamp(__DATE__, __TIME__).size(), 8u);
}

} // namespace
