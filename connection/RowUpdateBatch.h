// Row selections decoded from received replies, waiting to be applied on the interface
// thread. Only the last mode and the last state of each row count: the selectors show final
// values, not the steps in between.
#pragma once

#include <array>
#include <cstdint>

class CRowUpdateBatch {
public:
    static constexpr std::int8_t NONE = -1;
    // Rows a batch can hold. A single-read reply names its row in one byte, and the program's
    // models have far fewer rows; a row beyond this is not kept.
    static constexpr int MAX_ROWS = 256;

    CRowUpdateBatch() {
        m_modes.fill(NONE);
        m_states.fill(NONE);
    }

    void SetMode(int row, int value) { Set(m_modes, row, value); }
    void SetState(int row, int value) { Set(m_states, row, value); }
    bool Empty() const { return m_nEnd == 0; }

    // Calls apply(row, mode, state) for every row with a pending change (NONE where one of
    // the two did not change), in row order, and empties the batch.
    template <class Apply>
    void Drain(Apply&& apply) {
        const int end = m_nEnd;
        m_nEnd = 0;
        for (int row = 0; row < end; ++row) {
            const auto index = static_cast<std::size_t>(row);
            if (m_modes[index] == NONE && m_states[index] == NONE)
                continue;
            const int mode = m_modes[index];
            const int state = m_states[index];
            m_modes[index] = NONE;
            m_states[index] = NONE;
            apply(row, mode, state);
        }
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
    void Set(std::array<std::int8_t, MAX_ROWS>& values, int row, int value) {
        if (row < 0 || row >= MAX_ROWS)
            return;
        values[static_cast<std::size_t>(row)] = static_cast<std::int8_t>(value);
        if (row >= m_nEnd)
            m_nEnd = row + 1;
    }

    std::array<std::int8_t, MAX_ROWS> m_modes;
    std::array<std::int8_t, MAX_ROWS> m_states;
    int m_nEnd = 0; // one past the highest row set since the last drain
};
