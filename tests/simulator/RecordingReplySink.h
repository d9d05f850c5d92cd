// A reply sink for tests: runs the program's reply parser over what the simulator sent and
// records every row update, so a test can tell what the program would show.
#pragma once

#include "protocol/DioReplyParser.h"

#include <cstdint>
#include <string>
#include <vector>

class CRecordingReplySink : public CDioReplySink {
public:
    explicit CRecordingReplySink(int rowCount = 9, int pendingStart = -1)
        : m_nRowCount(rowCount), m_nPendingStart(pendingStart) {}

    int GetRowCount() override { return m_nRowCount; }
    int GetPendingStart() override { return m_nPendingStart; }
    void ClearPendingStart() override { m_nPendingStart = -1; }
    void SetRowMode(int row, int value) override {
        m_vecUpdates.push_back("mode " + std::to_string(row) + "=" + std::to_string(value));
    }
    void SetRowState(int row, int value) override {
        m_vecUpdates.push_back("state " + std::to_string(row) + "=" + std::to_string(value));
    }

    // Feeds bytes through a fresh parser (or the sink's own, to continue a stream).
    void Feed(const std::vector<std::uint8_t>& bytes) {
        if (!bytes.empty()) {
            m_parser.Feed(bytes.data(), bytes.size(), *this);
        }
    }

    std::vector<std::string> m_vecUpdates;
    int m_nRowCount;
    int m_nPendingStart;

private:
    CDioReplyParser m_parser;
};
