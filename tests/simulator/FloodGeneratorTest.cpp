// The flood's frames: valid reports that keep changing, matching the device afterwards.
#include "tools/simulator/FloodGenerator.h"

#include "RecordingReplySink.h"

#include <gtest/gtest.h>

#include <map>

TEST(SimulatorFlood, MakesWholeReportsOfChangingValues) {
    CDioDevice device(4);
    CFloodGenerator flood;
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(flood.Generate(device, 20, bytes), 14u); // whole frames only
    EXPECT_EQ(flood.Generate(device, 7 * 200, bytes), 7u * 200);
    ASSERT_EQ(bytes.size(), 7u * 202);

    std::map<int, std::pair<int, int>> last;
    for (std::size_t i = 0; i < bytes.size(); i += 7) {
        const std::size_t frame = i / 7;
        ASSERT_EQ(bytes[i], 0x01);
        ASSERT_EQ(bytes[i + 1], 0x02);
        ASSERT_EQ(bytes[i + 2], 0x00);
        ASSERT_EQ(bytes[i + 3], 0x03);
        const int dio = bytes[i + 4];
        EXPECT_EQ(dio, static_cast<int>(frame % 4)); // sweeps every DIO in turn
        const std::pair<int, int> value{bytes[i + 5], bytes[i + 6]};
        EXPECT_LE(value.first, 1);
        EXPECT_LE(value.second, 1);
        if (last.count(dio) != 0) {
            EXPECT_NE(last[dio], value) << "frame " << frame;
        }
        last[dio] = value;
    }
    for (const auto& [dio, value] : last) {
        EXPECT_EQ(device.Get(dio).mode, value.first);
        EXPECT_EQ(device.Get(dio).state, value.second);
    }

    // The program shows the last report of each DIO.
    CRecordingReplySink sink(4);
    sink.Feed(bytes);
    EXPECT_EQ(sink.m_vecUpdates.size(), 2u * 202);
}
