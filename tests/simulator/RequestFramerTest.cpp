// Cutting the client's byte stream into whole requests, also after bad bytes.
#include "tools/simulator/RequestFramer.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<SimFrame> FeedInChunks(const Bytes& stream, std::size_t chunk) {
    CRequestFramer framer;
    std::vector<SimFrame> frames;
    for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
        const std::size_t length = std::min(chunk, stream.size() - pos);
        framer.Feed(stream.data() + pos, length, frames);
    }
    return frames;
}

} // namespace

TEST(SimulatorFramer, CutsAStreamIntoFramesByTheirLengthBytes) {
    // A read, an empty frame, a frame of an unknown code and bad fixed bytes (still 2 payload
    // bytes long), a write and a 255-byte frame.
    Bytes stream = {0x01, 0x02, 0x00, 0x01, 0x03, 0x01, 0x02, 0x00, 0x00, 0x07, 0x99,
                    0x99, 0x02, 0x01, 0x02, 0x02, 0x02, 0x00, 0x03, 0x00, 0x01, 0x01};
    Bytes longFrame = {0x06, 0x02, 0x00, 0xFF};
    longFrame.resize(4 + 255, 0x01);
    stream.insert(stream.end(), longFrame.begin(), longFrame.end());
    const std::vector<SimFrame> expected = {{0x01, 0x02, 0x00, 0x01, 0x03},
                                            {0x01, 0x02, 0x00, 0x00},
                                            {0x07, 0x99, 0x99, 0x02, 0x01, 0x02},
                                            {0x02, 0x02, 0x00, 0x03, 0x00, 0x01, 0x01},
                                            longFrame};
    // However the stream is cut, the same frames come out.
    for (const std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{2}, std::size_t{3},
                                    std::size_t{5}, std::size_t{7}, std::size_t{100}}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(FeedInChunks(stream, chunk), expected);
    }
}

TEST(SimulatorFramer, KeepsAnIncompleteFrameForTheNextChunk) {
    CRequestFramer framer;
    std::vector<SimFrame> frames;
    const Bytes first = {0x05, 0x02, 0x00};
    framer.Feed(first.data(), first.size(), frames);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(framer.PendingBytes(), 3u);
    const Bytes rest = {0x02, 0x01, 0x04, 0x01};
    framer.Feed(rest.data(), rest.size(), frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (SimFrame{0x05, 0x02, 0x00, 0x02, 0x01, 0x04}));
    EXPECT_EQ(framer.PendingBytes(), 1u);
}

TEST(SimulatorFramer, AStrayByteShiftsTheFramingUntilALengthByteRealignsIt) {
    // The stray 0x09 makes "09 01 02 00" a frame of length 0; the next header then starts at
    // "01 03 ..." and its length byte (0x05) swallows what follows; the good read after
    // that is framed as sent.
    const Bytes stream = {0x09, 0x01, 0x02, 0x00, 0x01, 0x03, 0x00, 0x05, 0xAA,
                          0xBB, 0xCC, 0xDD, 0xEE, 0x01, 0x02, 0x00, 0x01, 0x04};
    const std::vector<SimFrame> frames = FeedInChunks(stream, stream.size());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], (SimFrame{0x09, 0x01, 0x02, 0x00}));
    EXPECT_EQ(frames[1], (SimFrame{0x01, 0x03, 0x00, 0x05, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}));
    EXPECT_EQ(frames[2], (SimFrame{0x01, 0x02, 0x00, 0x01, 0x04}));
}
