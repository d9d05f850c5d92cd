#include "ui/LogCap.h"

#include <gtest/gtest.h>

#include <string>

TEST(LogCap, TrimsNothingWhileTheLogAndTheNewTextFitUnderTheCap) {
    EXPECT_EQ(LogCharsToTrim(0, 0), 0);
    EXPECT_EQ(LogCharsToTrim(0, LOG_CAP_CHARS * 3), 0); // nothing there to trim
    EXPECT_EQ(LogCharsToTrim(LOG_CAP_CHARS - 100, 100), 0);
    EXPECT_EQ(LogCharsToTrim(LOG_CAP_CHARS, 0), 0);
}

TEST(LogCap, PastTheCapTrimsDownToTheTargetIncludingTheNewText) {
    EXPECT_EQ(LogCharsToTrim(LOG_CAP_CHARS, 1), LOG_CAP_CHARS - (LOG_TRIM_TO_CHARS - 1));
    EXPECT_EQ(LogCharsToTrim(LOG_CAP_CHARS - 10, 4000),
              LOG_CAP_CHARS - 10 - (LOG_TRIM_TO_CHARS - 4000));
    // What is left plus the new text is exactly the target.
    const long length = LOG_CAP_CHARS - 5;
    const long incoming = 6000;
    EXPECT_EQ(length - LogCharsToTrim(length, incoming) + incoming, LOG_TRIM_TO_CHARS);
    // New text as long as the target replaces everything.
    EXPECT_EQ(LogCharsToTrim(500, LOG_TRIM_TO_CHARS + LOG_CAP_CHARS), 500);
    EXPECT_EQ(LogCharsToTrim(LOG_CAP_CHARS, LOG_TRIM_TO_CHARS), LOG_CAP_CHARS);
}

TEST(LogCap, TheNewestWholeLinesOfAnOverlongTextAreKept) {
    const std::string text = "aaaa\r\nbbbb\r\ncccc\r\n";
    EXPECT_EQ(LogTailStart(text, text.size()), 0u);
    EXPECT_EQ(LogTailStart(text, 100), 0u);
    EXPECT_EQ(LogTailStart(text, 12), 6u);  // exactly the last two lines
    EXPECT_EQ(LogTailStart(text, 11), 12u); // one short: only the last line
    EXPECT_EQ(LogTailStart(text, 6), 12u);
    // Not even the last line fits: it is kept whole rather than cut.
    EXPECT_EQ(LogTailStart(text, 3), 12u);
    EXPECT_EQ(LogTailStart("no line end at all", 4), 0u);
    // An unfinished last line (a bare direction mark) counts as a line.
    EXPECT_EQ(LogTailStart("aaaa\r\n>", 2), 6u);
    EXPECT_EQ(LogTailStart("x", 0), 0u);
}
