#include "connection/ReconnectBackoff.h"

#include <gtest/gtest.h>

#include <climits>

TEST(ReconnectBackoff, WaitsOneTwoAndFourSecondsThenEveryFive) {
    using std::chrono::milliseconds;
    const milliseconds expected[] = {milliseconds(1000), milliseconds(2000), milliseconds(4000),
                                     milliseconds(5000), milliseconds(5000)};
    for (int failed = 0; failed < 5; ++failed) {
        EXPECT_EQ(ReconnectDelay(failed), expected[failed]) << failed;
    }
    // However long the device stays away.
    EXPECT_EQ(ReconnectDelay(INT_MAX), milliseconds(5000));
}
