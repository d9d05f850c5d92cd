// Sending queued frames: in order, whole, not before they are due, piece by piece.
#include "tools/simulator/OutputQueue.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

SimOutgoing Frame(Bytes bytes, std::vector<std::size_t> pieces, SimClock::time_point due,
                  milliseconds gap = milliseconds(0)) {
    SimOutgoing frame;
    frame.m_vecBytes = std::move(bytes);
    frame.m_vecPieces = std::move(pieces);
    frame.m_timeDue = due;
    frame.m_pieceGap = gap;
    return frame;
}

Bytes AsBytes(std::span<const std::uint8_t> span) {
    return Bytes(span.begin(), span.end());
}

} // namespace

TEST(SimulatorOutputQueue, HoldsAFrameUntilItIsDue) {
    const SimClock::time_point t0 = SimClock::now();
    COutputQueue queue;
    queue.Push(Frame({1, 2, 3}, {}, t0 + milliseconds(50)));
    EXPECT_TRUE(queue.Ready(t0).empty());
    EXPECT_EQ(queue.NextDue(), t0 + milliseconds(50));
    EXPECT_EQ(AsBytes(queue.Ready(t0 + milliseconds(50))), (Bytes{1, 2, 3}));
}

TEST(SimulatorOutputQueue, SendsPiecesWithTheGapBetweenThem) {
    const SimClock::time_point t0 = SimClock::now();
    COutputQueue queue;
    queue.Push(Frame({1, 2, 3, 4, 5}, {2, 3}, t0, milliseconds(10)));
    EXPECT_TRUE(queue.IsFrontUnsent());
    EXPECT_EQ(AsBytes(queue.Ready(t0)), (Bytes{1, 2}));
    EXPECT_FALSE(queue.Consume(2, t0));
    EXPECT_FALSE(queue.IsFrontUnsent());
    EXPECT_TRUE(queue.Ready(t0 + milliseconds(9)).empty());
    EXPECT_EQ(AsBytes(queue.Ready(t0 + milliseconds(10))), (Bytes{3, 4, 5}));
    // The socket takes part of a piece: the rest follows without a gap.
    EXPECT_FALSE(queue.Consume(1, t0 + milliseconds(10)));
    EXPECT_EQ(AsBytes(queue.Ready(t0 + milliseconds(10))), (Bytes{4, 5}));
    EXPECT_TRUE(queue.Consume(2, t0 + milliseconds(11)));
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(SimulatorOutputQueue, AFrameQueuedBehindAHalfSentOneDoesNotRestartIt) {
    const SimClock::time_point t0 = SimClock::now();
    COutputQueue queue;
    queue.Push(Frame({1, 2, 3, 4, 5}, {2, 3}, t0));
    EXPECT_FALSE(queue.Consume(2, t0)); // the first piece
    queue.Push(Frame({9}, {}, t0));
    EXPECT_EQ(AsBytes(queue.Ready(t0)), (Bytes{3, 4, 5}));
    EXPECT_FALSE(queue.Consume(1, t0)); // part of a piece
    queue.Push(Frame({8}, {}, t0));
    EXPECT_FALSE(queue.IsFrontUnsent());
    EXPECT_EQ(AsBytes(queue.Ready(t0)), (Bytes{4, 5}));
    EXPECT_TRUE(queue.Consume(2, t0));
    EXPECT_EQ(AsBytes(queue.Ready(t0)), (Bytes{9}));
}

TEST(SimulatorOutputQueue, FramesLeaveInOrderEachWhole) {
    const SimClock::time_point t0 = SimClock::now();
    COutputQueue queue;
    queue.Push(Frame({1, 1}, {1, 1}, t0, milliseconds(100)));
    queue.Push(Frame({2}, {}, t0, milliseconds(100)));
    queue.Push(Frame({}, {}, t0)); // nothing to send: dropped
    EXPECT_EQ(queue.Count(), 2u);
    EXPECT_FALSE(queue.Consume(1, t0));
    EXPECT_TRUE(queue.Consume(1, t0 + milliseconds(100)));
    // The gap is between pieces of one frame, not before the next frame.
    EXPECT_TRUE(queue.IsFrontUnsent());
    EXPECT_EQ(AsBytes(queue.Ready(t0 + milliseconds(100))), (Bytes{2}));
    EXPECT_TRUE(queue.Consume(1, t0 + milliseconds(100)));
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_TRUE(queue.Ready(t0).empty());
}

TEST(SimulatorOutputQueue, PieceListsThatDoNotFitTheFrameBecomeOnePiece) {
    const SimClock::time_point t0 = SimClock::now();
    for (const std::vector<std::size_t>& pieces :
         {std::vector<std::size_t>{1, 1}, std::vector<std::size_t>{2, 0, 1},
          std::vector<std::size_t>{4}}) {
        COutputQueue queue;
        queue.Push(Frame({7, 8, 9}, pieces, t0));
        EXPECT_EQ(AsBytes(queue.Ready(t0)), (Bytes{7, 8, 9}));
    }
}

TEST(SimulatorOutputQueue, GathersWholeDueFramesForOneSend) {
    const SimClock::time_point t0 = SimClock::now();
    COutputQueue queue;
    queue.Push(Frame({1, 1}, {}, t0));
    queue.Push(Frame({2, 2, 2}, {}, t0));
    queue.Push(Frame({3}, {}, t0));
    queue.Push(Frame({4, 4}, {1, 1}, t0)); // cut into pieces: sent on its own
    Bytes gathered;
    EXPECT_EQ(queue.GatherWhole(t0, 5, gathered), 2u); // the third would pass the limit
    EXPECT_EQ(gathered, (Bytes{1, 1, 2, 2, 2}));
    EXPECT_EQ(queue.GatherWhole(t0, 100, gathered), 3u);
    EXPECT_EQ(gathered, (Bytes{1, 1, 2, 2, 2, 3}));
    EXPECT_EQ(queue.GatherWhole(t0, 1, gathered), 1u); // the first goes whatever the limit

    queue.Consume(1, t0); // the front is partly sent: its rest goes alone
    EXPECT_EQ(queue.GatherWhole(t0, 100, gathered), 0u);
    COutputQueue later;
    later.Push(Frame({5}, {}, t0));
    later.Push(Frame({6}, {}, t0 + milliseconds(10))); // not due yet
    EXPECT_EQ(later.GatherWhole(t0, 100, gathered), 1u);
    EXPECT_EQ(gathered, (Bytes{5}));
}
