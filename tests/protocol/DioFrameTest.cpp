#include "protocol/DioFrame.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& frame) {
    return Bytes(frame.begin(), frame.end());
}

TEST(DioFrame, SingleRequestsAreEncodedByteForByte) {
    EXPECT_EQ(ToBytes(EncodeSingleRead(3)), (Bytes{0x01, 0x02, 0x00, 0x01, 0x03}));
    EXPECT_EQ(ToBytes(EncodeSingleRead(0)), (Bytes{0x01, 0x02, 0x00, 0x01, 0x00}));
    EXPECT_EQ(ToBytes(EncodeSingleWrite(0, DIO_MODE_OUTPUT, DIO_STATE_HIGH)),
              (Bytes{0x02, 0x02, 0x00, 0x03, 0x00, 0x01, 0x01}));
    EXPECT_EQ(ToBytes(EncodeSingleWrite(2, DIO_MODE_OUTPUT, DIO_STATE_HIGH)),
              (Bytes{0x02, 0x02, 0x00, 0x03, 0x02, 0x01, 0x01}));
}

TEST(DioFrame, RangeReadIsEncodedUncheckedAsLowBytes) {
    EXPECT_EQ(ToBytes(EncodeMultiRead(2, 7)), (Bytes{0x05, 0x02, 0x00, 0x02, 0x02, 0x07}));
    // Start above end goes out as it is.
    EXPECT_EQ(ToBytes(EncodeMultiRead(5, 2)), (Bytes{0x05, 0x02, 0x00, 0x02, 0x05, 0x02}));
    EXPECT_EQ(ToBytes(EncodeMultiRead(7, 1)), (Bytes{0x05, 0x02, 0x00, 0x02, 0x07, 0x01}));
    EXPECT_EQ(ToBytes(EncodeMultiRead(0, 0)), (Bytes{0x05, 0x02, 0x00, 0x02, 0x00, 0x00}));
}

TEST(DioFrame, WideNumbersKeepTheirLowEightBits) {
    EXPECT_EQ(EncodeMultiRead(300, 2)[4], 0x2C);
    EXPECT_EQ(EncodeMultiRead(2, 511)[5], 0xFF);
    EXPECT_EQ(EncodeMultiRead(-1, -256)[4], 0xFF);
    EXPECT_EQ(EncodeMultiRead(-1, -256)[5], 0x00);
    EXPECT_EQ(EncodeSingleRead(256 + 7)[4], 0x07);
    EXPECT_EQ(ToBytes(EncodeSingleWrite(0x1234, -1, 0x101)),
              (Bytes{0x02, 0x02, 0x00, 0x03, 0x34, 0xFF, 0x01}));
}

TEST(DioFrame, RangeWriteIsEncodedByteForByte) {
    const DioModeState threePairs[] = {
        {DIO_MODE_INPUT, DIO_STATE_LOW}, {DIO_MODE_OUTPUT, DIO_STATE_HIGH}, {DIO_MODE_OUTPUT, 0}};
    EXPECT_EQ(EncodeMultiWrite(1, 3, threePairs),
              (Bytes{0x06, 0x02, 0x00, 0x08, 0x01, 0x03, 0x00, 0x00, 0x01, 0x01, 0x01, 0x00}));

    const DioModeState onePair[] = {{DIO_MODE_OUTPUT, DIO_STATE_LOW}};
    EXPECT_EQ(EncodeMultiWrite(4, 4, onePair),
              (Bytes{0x06, 0x02, 0x00, 0x04, 0x04, 0x04, 0x01, 0x00}));

    const DioModeState fourPairs[] = {{1, 1}, {0, 1}, {1, 0}, {0, 0}};
    EXPECT_EQ(EncodeMultiWrite(0, 3, fourPairs),
              (Bytes{0x06, 0x02, 0x00, 0x0A, 0x00, 0x03, 1, 1, 0, 1, 1, 0, 0, 0}));
}

TEST(DioFrame, RangeWriteHoldsExactlyTwoBytesPerDioPlusSix) {
    for (int start : {0, 3, 31, 250}) {
        for (int n : {1, 2, 9, 32, 126, 127, 200}) {
            const std::vector<DioModeState> pairs(static_cast<std::size_t>(n), {1, 0});
            const Bytes frame = EncodeMultiWrite(start, start + n - 1, pairs);
            SCOPED_TRACE(testing::Message() << "start " << start << ", n " << n);
            ASSERT_EQ(frame.size(), static_cast<std::size_t>(2 * n + 6));
            EXPECT_EQ(frame.capacity(), frame.size());
            // Length byte: the low 8 bits of 2 * (end - start) + 4, wrapping from n = 127 on.
            EXPECT_EQ(frame[3], static_cast<std::uint8_t>((2 * (n - 1) + 4) & 0xFF));
            EXPECT_EQ(frame[4], static_cast<std::uint8_t>(start & 0xFF));
            EXPECT_EQ(frame[5], static_cast<std::uint8_t>((start + n - 1) & 0xFF));
            EXPECT_EQ(frame[frame.size() - 2], 1);
            EXPECT_EQ(frame.back(), 0);
        }
    }
}

TEST(DioFrame, RangeWriteNeverReadsPastItsPairs) {
    // Fewer pairs than DIOs (a caller's mistake) are padded with "Input"/"Low".
    const DioModeState onePair[] = {{1, 1}};
    EXPECT_EQ(EncodeMultiWrite(0, 2, onePair),
              (Bytes{0x06, 0x02, 0x00, 0x08, 0x00, 0x02, 1, 1, 0, 0, 0, 0}));
    // A reversed range carries no pairs.
    EXPECT_EQ(EncodeMultiWrite(3, 1, {}).size(), 6u);
}

} // namespace
