#include "ui/TextSearch.h"

#include <gtest/gtest.h>

TEST(TextSearch, FindsDownAndUpWithCaseAndWholeWordsAndNeverWraps) {
    const std::string_view text = "< 01 02 00 | Ab_ab AB ab\r\n> 01 02";
    const TextSearch down;
    EXPECT_EQ(FindInText(text, "01 02", 0, down), 2u);
    EXPECT_EQ(FindInText(text, "01 02", 3, down), 28u);
    EXPECT_EQ(FindInText(text, "01 02", 29, down), std::nullopt); // no wrap to the start
    TextSearch up;
    up.bDown = false;
    EXPECT_EQ(FindInText(text, "01 02", text.size(), up), 28u);
    EXPECT_EQ(FindInText(text, "01 02", 28, up), 2u); // ends at or before the selection's start
    EXPECT_EQ(FindInText(text, "01 02", 6, up), std::nullopt);
    // A match at the very start that ends just where an upward search starts is found; one
    // that would end a character later is not.
    EXPECT_EQ(FindInText(text, "< 01", 4, up), 0u);
    EXPECT_EQ(FindInText(text, "< 01", 3, up), std::nullopt);
    EXPECT_EQ(FindInText(text, text, text.size(), up), 0u);

    // Case: "ab" matches Ab, ab and AB unless the case must match.
    EXPECT_EQ(FindInText(text, "ab", 0, down), 13u);
    // Every letter from A to Z folds, and only letters: '@' and '[' beside them do not.
    EXPECT_EQ(FindInText("@[ AZ", "az", 0, down), 3u);
    EXPECT_EQ(FindInText("`{ @[", "@[", 0, down), 3u);
    TextSearch matchCase;
    matchCase.bMatchCase = true;
    EXPECT_EQ(FindInText(text, "AB", 0, matchCase), 19u);
    // Whole words: "ab" inside "Ab_ab" does not count, the lone ones do.
    TextSearch whole;
    whole.bWholeWord = true;
    EXPECT_EQ(FindInText(text, "ab", 0, whole), 19u);
    whole.bDown = false;
    EXPECT_EQ(FindInText(text, "ab", text.size(), whole), 22u);

    EXPECT_EQ(FindInText(text, "", 0, down), std::nullopt);
    EXPECT_EQ(FindInText("ab", "abc", 0, down), std::nullopt);
}
