#include "connection/LogHandOff.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Line(int i) {
    return "line " + std::to_string(i) + "\r\n";
}
} // namespace

TEST(LogHandOff, KeepsAtLeastWhatThePaneCouldShowAndSaysWhenItDroppedTheRest) {
    CLogHandOff log(40);
    for (int i = 0; i < 3; ++i)
        log.Append(Line(i)); // 8 characters each
    std::string taken;
    EXPECT_FALSE(log.Take(taken, 1000));
    EXPECT_EQ(taken, Line(0) + Line(1) + Line(2));

    // Far more than the pane could show: only whole appends go, the oldest first, and the
    // newest that still fill the pane stay.
    for (int i = 10; i < 100; ++i)
        log.Append(Line(i)); // 9 characters each
    EXPECT_GE(log.Chars(), 40u);
    EXPECT_LT(log.Chars(), 40u + 9u);
    EXPECT_TRUE(log.Take(taken, 1000));
    EXPECT_EQ(taken, Line(95) + Line(96) + Line(97) + Line(98) + Line(99));
    EXPECT_TRUE(log.Empty());

    // What is kept is just enough: when the newest appends fill the pane exactly, no older
    // one stays.
    for (int i = 0; i < 10; ++i)
        log.Append(std::string(9, static_cast<char>('a' + i)) + "\n"); // 10 characters each
    EXPECT_EQ(log.Chars(), 40u);
    EXPECT_TRUE(log.Take(taken, 1000));
    EXPECT_EQ(taken.front(), 'g');

    // A take of a few characters takes whole appends, at least one; the rest follows in order.
    log.Append(Line(1));
    log.Append(Line(2));
    log.Append(Line(3));
    EXPECT_FALSE(log.Take(taken, 1));
    EXPECT_EQ(taken, Line(1));
    EXPECT_FALSE(log.Take(taken, 9));
    EXPECT_EQ(taken, Line(2) + Line(3));

    // An append larger than the pane stays whole (the pane cuts it); clearing drops all,
    // and with it the gap.
    log.Append(std::string(100, 'x'));
    log.Append(std::string(100, 'y'));
    log.Clear();
    log.Append(Line(7));
    EXPECT_FALSE(log.Take(taken, 1000));
    EXPECT_EQ(taken, Line(7));
}

TEST(LogHandOff, APrefixStartsEveryLineButNotTheRestOfAnOpenOne) {
    CLogHandOff log(1000);
    auto append = [&](std::string text, std::string_view prefix) {
        log.Append(log.StartLines(std::move(text), prefix));
    };
    append("< 01\r\n  02\r\n", "12:00:00.001 ");
    append(">", "12:00:00.002 ");                // a failed send: the line stays open
    append("Disconnected\r\n", "12:00:00.003 "); // continues it
    append("plain\r\n", {});
    std::string taken;
    log.Take(taken, 1000);
    EXPECT_EQ(taken, "12:00:00.001 < 01\r\n12:00:00.001   02\r\n12:00:00.002 >Disconnected\r\n"
                     "plain\r\n");

    // A Clear after an open line: what follows starts a line of its own, with its time.
    append(">", "12:00:00.004 ");
    log.Clear();
    append("Connected\r\n", "12:00:00.005 ");
    log.Take(taken, 1000);
    EXPECT_EQ(taken, "12:00:00.005 Connected\r\n");
}
