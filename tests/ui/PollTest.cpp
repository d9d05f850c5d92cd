#include "ui/Poll.h"

#include <gtest/gtest.h>

namespace {
using Clock = CPollGate::Clock;
using std::chrono::milliseconds;
const Clock::time_point T0{std::chrono::hours(1)};
} // namespace

TEST(PollGate, OnePollAtATimeAndNoneWhileTheOperatorsRangeReplyIsAwaited) {
    CPollGate gate;
    EXPECT_TRUE(gate.StartPoll(T0));
    // Ticks while its reply is awaited are skipped.
    EXPECT_FALSE(gate.StartPoll(T0 + milliseconds(100)));
    EXPECT_FALSE(gate.StartPoll(T0 + milliseconds(200)));
    gate.RangeRepliesDecoded(1);
    EXPECT_TRUE(gate.StartPoll(T0 + milliseconds(300)));
    gate.RangeRepliesDecoded(2);

    // Two range reads of the operator's: no poll until both replies are in.
    gate.RangeReadSent(T0 + milliseconds(400));
    gate.RangeReadSent(T0 + milliseconds(410));
    EXPECT_FALSE(gate.MustHold(T0 + milliseconds(420))); // the operator's own go on
    EXPECT_FALSE(gate.StartPoll(T0 + milliseconds(500)));
    gate.RangeRepliesDecoded(3);
    EXPECT_FALSE(gate.StartPoll(T0 + milliseconds(600)));
    gate.RangeRepliesDecoded(4);
    EXPECT_TRUE(gate.StartPoll(T0 + milliseconds(700)));
}

TEST(PollGate, TheOperatorsRangeCommandsWaitForThePollsReplyOrUntilItIsGivenUp) {
    CPollGate gate;
    ASSERT_TRUE(gate.StartPoll(T0));
    EXPECT_TRUE(gate.MustHold(T0 + milliseconds(5)));
    gate.RangeRepliesDecoded(1);
    EXPECT_FALSE(gate.MustHold(T0 + milliseconds(6)));

    // A reply that never comes.
    const Clock::time_point t1 = T0 + milliseconds(100);
    ASSERT_TRUE(gate.StartPoll(t1));
    EXPECT_EQ(gate.HoldEnds(), t1 + CPollGate::REPLY_WAIT);
    EXPECT_TRUE(gate.MustHold(gate.HoldEnds() - milliseconds(1)));
    EXPECT_FALSE(gate.MustHold(gate.HoldEnds()));
    // The late reply, when it comes, counts for nothing: what goes next is awaited as usual.
    const Clock::time_point t2 = gate.HoldEnds() + milliseconds(50);
    gate.RangeRepliesDecoded(2);
    gate.RangeReadSent(t2);
    EXPECT_FALSE(gate.StartPoll(t2 + milliseconds(10)));
    gate.RangeRepliesDecoded(3);
    ASSERT_TRUE(gate.StartPoll(t2 + milliseconds(20)));
    EXPECT_FALSE(gate.StartPoll(t2 + milliseconds(30)));

    // A new connection starts with nothing awaited.
    gate.Reset();
    EXPECT_FALSE(gate.MustHold(t2 + milliseconds(20)));
    EXPECT_TRUE(gate.StartPoll(t2 + milliseconds(20)));
}
