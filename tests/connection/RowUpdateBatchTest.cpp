#include "connection/RowUpdateBatch.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {
using Update = std::tuple<int, int, int>; // row, mode, state

std::vector<Update> Drain(CRowUpdateBatch& batch) {
    std::vector<Update> updates;
    batch.Drain([&](int row, int mode, int state) { updates.emplace_back(row, mode, state); });
    return updates;
}
constexpr int NONE = CRowUpdateBatch::NONE;
} // namespace

TEST(RowUpdateBatch, KeepsTheLastModeAndStateOfEachRowInRowOrder) {
    CRowUpdateBatch batch;
    EXPECT_TRUE(batch.Empty());
    batch.SetMode(5, 1);
    batch.SetState(2, 1);
    batch.SetMode(5, 0);
    batch.SetState(5, 1);
    batch.SetMode(0, 1);
    EXPECT_FALSE(batch.Empty());
    EXPECT_EQ(Drain(batch), (std::vector<Update>{{0, 1, NONE}, {2, NONE, 1}, {5, 0, 1}}));
}

TEST(RowUpdateBatch, IsEmptyAfterDrainingAndCanBeFilledAgain) {
    CRowUpdateBatch batch;
    batch.SetMode(3, 1);
    Drain(batch);
    EXPECT_TRUE(batch.Empty());
    EXPECT_TRUE(Drain(batch).empty());
    batch.SetState(3, 0);
    batch.SetState(200, 1);
    EXPECT_EQ(Drain(batch), (std::vector<Update>{{3, NONE, 0}, {200, NONE, 1}}));
    EXPECT_TRUE(batch.Empty());
}

TEST(RowUpdateBatch, RowsItCannotHoldAreNotKept) {
    CRowUpdateBatch batch;
    batch.SetMode(-1, 1);
    batch.SetState(CRowUpdateBatch::MAX_ROWS, 1);
    EXPECT_TRUE(batch.Empty());
    batch.SetMode(CRowUpdateBatch::MAX_ROWS - 1, 0);
    EXPECT_EQ(Drain(batch), (std::vector<Update>{{CRowUpdateBatch::MAX_ROWS - 1, 0, NONE}}));
}
