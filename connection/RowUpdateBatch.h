// Row selections decoded from received replies, waiting to be applied on the interface
// thread. Only the last mode and the last state of each row count: the selectors show final
// values, not the steps in between.
#pragma once

#include <cstdint>
#include <vector>

class CRowUpdateBatch {
public:
    static constexpr std::int8_t NONE = -1;

    void SetMode(int row, int value) { Slot(row).mode = static_cast<std::int8_t>(value); }
    void SetState(int row, int value) { Slot(row).state = static_cast<std::int8_t>(value); }
    bool Empty() const { return m_nDirtyRows == 0; }

    // Calls apply(row, mode, state) for every row with a pending change (NONE where one of
    // the two did not change), in row order, and empties the batch.
    template <class Apply>
    void Drain(Apply&& apply) {
        for (std::size_t row = 0; row < m_rows.size() && m_nDirtyRows > 0; ++row) {
            RowUpdate& update = m_rows[row];
            if (update.mode == NONE && update.state == NONE)
                continue;
            apply(static_cast<int>(row), update.mode, update.state);
            update = RowUpdate{};
            --m_nDirtyRows;
        }
        m_nDirtyRows = 0;
    }

    // Moves every pending change into other, where it replaces what other held for that row.
    void MoveInto(CRowUpdateBatch& other) {
        Drain([&other](int row, int mode, int state) {
            if (mode != NONE)
                other.SetMode(row, mode);
            if (state != NONE)
                other.SetState(row, state);
        });
    }

private:
    struct RowUpdate {
        std::int8_t mode = NONE;
        std::int8_t state = NONE;
    };

    RowUpdate& Slot(int row) {
        const auto index = static_cast<std::size_t>(row);
        if (index >= m_rows.size())
            m_rows.resize(index + 1);
        RowUpdate& update = m_rows[index];
        if (update.mode == NONE && update.state == NONE)
            ++m_nDirtyRows;
        return update;
    }

    std::vector<RowUpdate> m_rows;
    std::size_t m_nDirtyRows = 0;
};
