// The one frame reader, and the command table it judges frames by.
#include "protocol/DioCommand.h"
#include "protocol/DioFrameReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// What a reader told its handler, as text, with each payload piece's place in its chunk.
struct Recorder {
    const std::uint8_t* m_pChunk = nullptr;
    std::string m_strEvents;

    void OnFrameHeader(const DioFrameHeader& header) {
        m_strEvents +=
            "H" + std::to_string(header.m_nCode) + "/" + std::to_string(header.m_nLength) + " ";
    }
    void OnFramePayload(const DioFrameHeader&, const std::uint8_t* data, std::size_t n,
                        std::size_t offset) {
        m_strEvents += "P" + std::to_string(offset) + "+" + std::to_string(n) + "@" +
                       std::to_string(data - m_pChunk) + " ";
    }
    void OnFrameEnd(const DioFrameHeader& header) {
        m_strEvents += std::string("E") + (header.IsAccepted() ? "" : "!") + " ";
    }
};

} // namespace

TEST(DioFrameReader, JudgesEveryFrameByItsCodeAndFixedBytesAndReadsItWhole) {
    const Bytes stream = {
        0x01, 0x02, 0x00, 0x03, 0x02, 0x01, 0x00, // a single-read reply
        0x03, 0x02, 0x00, 0x02, 0x00, 0x00,       // code 3 is no command's
        0x05, 0x03, 0x00, 0x01, 0x07,             // a known code with other fixed bytes
        0x06, 0x02, 0x01, 0x00,                   // the same, on the second fixed byte
        0x02, 0x02, 0x00, 0x00,                   // an empty write acknowledgement
    };
    std::vector<DioFrameHeader> headers;
    std::vector<Bytes> frames;
    CDioFrameReader reader;
    // One byte at a time: every frame is put together from pieces.
    for (const std::uint8_t b : stream) {
        reader.ReadFrames(&b, 1, [&](const DioFrameView& frame) {
            headers.push_back(frame.m_header);
            frames.push_back(DioFrameBytes(frame));
        });
    }
    ASSERT_EQ(headers.size(), 5u);
    EXPECT_EQ(headers[0].m_fault, DioFrameFault::None);
    EXPECT_EQ(headers[1].m_fault, DioFrameFault::UnknownCode);
    EXPECT_EQ(headers[2].m_fault, DioFrameFault::BadFixedBytes);
    EXPECT_EQ(headers[3].m_fault, DioFrameFault::BadFixedBytes);
    EXPECT_EQ(headers[4].m_fault, DioFrameFault::None);
    EXPECT_STREQ(DescribeDioFrameFault(headers[1].m_fault), "unknown code");
    EXPECT_STREQ(DescribeDioFrameFault(headers[2].m_fault), "fixed bytes not 02 00");
    EXPECT_EQ(frames[0], (Bytes{0x01, 0x02, 0x00, 0x03, 0x02, 0x01, 0x00}));
    EXPECT_EQ(frames[2], (Bytes{0x05, 0x03, 0x00, 0x01, 0x07}));
    EXPECT_EQ(frames[4], (Bytes{0x02, 0x02, 0x00, 0x00}));
    EXPECT_EQ(reader.PendingBytes(), 0u);
}

TEST(DioFrameReader, HandsOverPayloadPiecesInPlaceAndCopiesOnlyASplitFrame) {
    // A whole range reply, then a single-read reply cut after its first payload byte.
    const Bytes first = {0x05, 0x02, 0x00, 0x04, 0x00, 0x01, 0x01,
                         0x00, 0x01, 0x02, 0x00, 0x03, 0x04};
    const Bytes second = {0x01, 0x00, 0x02, 0x02};
    CDioFrameReader reader;
    Recorder recorder;
    recorder.m_pChunk = first.data();
    reader.Feed(first.data(), first.size(), recorder);
    EXPECT_EQ(recorder.m_strEvents, "H5/4 P0+4@4 E H1/3 P0+1@12 ");
    EXPECT_EQ(reader.PendingBytes(), 5u);
    recorder.m_strEvents.clear();
    recorder.m_pChunk = second.data();
    reader.Feed(second.data(), second.size(), recorder);
    // The reply's other two bytes, then a new frame's first two header bytes.
    EXPECT_EQ(recorder.m_strEvents, "P1+2@0 E ");
    EXPECT_EQ(reader.PendingBytes(), 2u);

    // Whole frames: one that lies in its chunk is not copied, a split one comes whole.
    CDioFrameReader whole;
    std::vector<const std::uint8_t*> payloads;
    std::vector<Bytes> frames;
    auto onFrame = [&](const DioFrameView& frame) {
        payloads.push_back(frame.m_payload.data());
        frames.push_back(DioFrameBytes(frame));
    };
    whole.ReadFrames(first.data(), first.size(), onFrame);
    whole.ReadFrames(second.data(), second.size(), onFrame);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(payloads[0], first.data() + 4);
    EXPECT_EQ(frames[1], (Bytes{0x01, 0x02, 0x00, 0x03, 0x04, 0x01, 0x00}));
}

namespace {

std::vector<Bytes> FramesInChunks(const Bytes& stream, std::size_t chunk) {
    CDioFrameReader reader;
    std::vector<Bytes> frames;
    for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
        reader.ReadFrames(
            stream.data() + pos, std::min(chunk, stream.size() - pos),
            [&](const DioFrameView& frame) { frames.push_back(DioFrameBytes(frame)); });
    }
    return frames;
}

} // namespace

TEST(DioFrameReader, AnyChunkingGivesTheSameFramesByTheirLengthBytes) {
    // A read, an empty frame, a frame of an unknown code and bad fixed bytes (still 2 payload
    // bytes long), a write and a 255-byte frame.
    Bytes stream = {0x01, 0x02, 0x00, 0x01, 0x03, 0x01, 0x02, 0x00, 0x00, 0x07, 0x99,
                    0x99, 0x02, 0x01, 0x02, 0x02, 0x02, 0x00, 0x03, 0x00, 0x01, 0x01};
    Bytes longFrame = {0x06, 0x02, 0x00, 0xFF};
    longFrame.resize(4 + 255, 0x01);
    stream.insert(stream.end(), longFrame.begin(), longFrame.end());
    const std::vector<Bytes> expected = {{0x01, 0x02, 0x00, 0x01, 0x03},
                                         {0x01, 0x02, 0x00, 0x00},
                                         {0x07, 0x99, 0x99, 0x02, 0x01, 0x02},
                                         {0x02, 0x02, 0x00, 0x03, 0x00, 0x01, 0x01},
                                         longFrame};
    for (const std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{2}, std::size_t{3},
                                    std::size_t{5}, std::size_t{7}, std::size_t{100}}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(FramesInChunks(stream, chunk), expected);
    }
}

TEST(DioFrameReader, AStrayByteShiftsTheFramingUntilALengthByteRealignsIt) {
    // The stray 0x09 makes "09 01 02 00" a frame of length 0; the next header then starts at
    // "01 03 ..." and its length byte (0x05) swallows what follows; the good read after
    // that is framed as sent.
    const Bytes stream = {0x09, 0x01, 0x02, 0x00, 0x01, 0x03, 0x00, 0x05, 0xAA,
                          0xBB, 0xCC, 0xDD, 0xEE, 0x01, 0x02, 0x00, 0x01, 0x04};
    EXPECT_EQ(FramesInChunks(stream, stream.size()),
              (std::vector<Bytes>{{0x09, 0x01, 0x02, 0x00},
                                  {0x01, 0x03, 0x00, 0x05, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE},
                                  {0x01, 0x02, 0x00, 0x01, 0x04}}));
}

TEST(DioCommand, TheTableSaysWhatEachRequestAndItsAnswerCarry) {
    const DioCommand& singleRead = *FindDioCommand(DIO_CMD_SINGLE_READ);
    const DioCommand& singleWrite = *FindDioCommand(DIO_CMD_SINGLE_WRITE);
    const DioCommand& rangeRead = *FindDioCommand(DIO_CMD_MULTI_READ);
    const DioCommand& rangeWrite = *FindDioCommand(DIO_CMD_MULTI_WRITE);
    const Bytes dio = {3};
    EXPECT_EQ(DioRequestPayloadLength(singleRead, dio), 1);
    EXPECT_EQ(DioReplyPayloadLength(singleRead, dio), 3);
    EXPECT_EQ(DioReplyPayloadLength(singleWrite, Bytes{3, 1, 1}), 1);
    // A range's lengths follow from its start and end.
    const Bytes twoToFive = {2, 5};
    EXPECT_EQ(DioRequestPayloadLength(rangeRead, twoToFive), 2);
    EXPECT_EQ(DioReplyPayloadLength(rangeRead, twoToFive), 8);
    EXPECT_EQ(DioRequestPayloadLength(rangeWrite, twoToFive), 10);
    EXPECT_EQ(DioReplyPayloadLength(rangeWrite, twoToFive), 1);
    // Not yet known, reversed, or an answer too long for a frame.
    EXPECT_EQ(DioRequestPayloadLength(rangeWrite, Bytes{2}), -1);
    EXPECT_EQ(DioRequestPayloadLength(rangeWrite, Bytes{5, 2}), -1);
    EXPECT_EQ(DioReplyPayloadLength(rangeRead, Bytes{5, 2}), -1);
    EXPECT_EQ(DioReplyPayloadLength(rangeRead, Bytes{0, 126}), 254);
    EXPECT_EQ(DioReplyPayloadLength(rangeRead, Bytes{0, 127}), -1);

    EXPECT_EQ(DescribeDioCommand(singleRead),
              "01 02 00 01 dio -> 01 02 00 03 dio mode state (single read)");
    EXPECT_EQ(DescribeDioCommand(rangeWrite),
              "06 02 00 2n+2 start end, then a mode and a state per DIO -> 06 02 00 01 status "
              "(range write)");

    // Every code is a command's or one of the unknown ones, never both.
    EXPECT_EQ(DIO_UNKNOWN_CODES.size() + DIO_COMMANDS.size(), 256u);
    for (const DioCommand& command : DIO_COMMANDS) {
        EXPECT_EQ(FindDioCommand(command.m_nCode), &command);
        EXPECT_FALSE(std::binary_search(DIO_UNKNOWN_CODES.begin(), DIO_UNKNOWN_CODES.end(),
                                        command.m_nCode));
    }
    EXPECT_EQ(FindDioCommand(0), nullptr);
    EXPECT_EQ(FindDioCommand(3), nullptr);
    EXPECT_TRUE(std::is_sorted(DIO_UNKNOWN_CODES.begin(), DIO_UNKNOWN_CODES.end()));
}
