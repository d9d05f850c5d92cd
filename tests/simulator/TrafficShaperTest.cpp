// Cutting frames into pieces and making junk frames.
#include "tools/simulator/TrafficShaper.h"

#include "RecordingReplySink.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>

TEST(SimulatorShaper, CutsWholeOrByteByByte) {
    CTrafficShaper shaper(1);
    EXPECT_EQ(shaper.Cut(ReplySplit::Whole, 7), (std::vector<std::size_t>{7}));
    EXPECT_EQ(shaper.Cut(ReplySplit::Bytes, 5), (std::vector<std::size_t>{1, 1, 1, 1, 1}));
    EXPECT_TRUE(shaper.Cut(ReplySplit::Bytes, 0).empty());
}

TEST(SimulatorShaper, RandomPiecesCoverTheFrameAndRepeatForASeed) {
    CTrafficShaper first(42);
    CTrafficShaper second(42);
    CTrafficShaper other(43);
    std::set<std::size_t> pieceCounts;
    bool otherDiffers = false;
    for (int i = 0; i < 200; ++i) {
        const std::size_t length = 1 + static_cast<std::size_t>(i % 20);
        const std::vector<std::size_t> pieces = first.Cut(ReplySplit::Random, length);
        EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), std::size_t{0}), length);
        for (const std::size_t piece : pieces) {
            EXPECT_GE(piece, 1u);
        }
        EXPECT_EQ(second.Cut(ReplySplit::Random, length), pieces);
        otherDiffers = otherDiffers || other.Cut(ReplySplit::Random, length) != pieces;
        if (length == 7) {
            pieceCounts.insert(pieces.size());
        }
    }
    EXPECT_TRUE(otherDiffers);
    // Seven-byte frames come out in varying numbers of pieces, not always the same cut.
    EXPECT_GE(pieceCounts.size(), 3u);
}

TEST(SimulatorShaper, JunkFramesAreSkippedWholeByTheProgram) {
    CTrafficShaper shaper(5);
    std::set<int> codes;
    for (int i = 0; i < 500; ++i) {
        const std::vector<std::uint8_t> junk = shaper.MakeJunkFrame();
        ASSERT_GE(junk.size(), 4u);
        EXPECT_EQ(junk.size(), 4u + junk[3]);
        EXPECT_LE(junk[3], 8);
        codes.insert(junk[0]);

        // Junk, then a read answer: only the answer reaches the rows.
        CRecordingReplySink sink(9, 0);
        sink.Feed(junk);
        sink.Feed({0x01, 0x02, 0x00, 0x03, 0x04, 0x01, 0x00});
        EXPECT_EQ(sink.m_vecUpdates, (std::vector<std::string>{"mode 4=1", "state 4=0"}));
    }
    for (const int known : {1, 2, 5, 6}) {
        EXPECT_EQ(codes.count(known), 0u);
    }
    EXPECT_GT(codes.size(), 100u);
}
