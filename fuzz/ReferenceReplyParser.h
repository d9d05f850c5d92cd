// The reply parser's rules, written out one byte at a time as a plain state table, with no
// shortcuts: what the program's parser must do, for the fuzzers to compare it with.
#pragma once

#include "protocol/DioReplyParser.h"

#include <cstddef>
#include <cstdint>

class CReferenceReplyParser {
public:
    void Feed(const std::uint8_t* data, std::size_t length, CDioReplySink& sink) {
        for (std::size_t i = 0; i < length; ++i) {
            Step(data[i], sink);
        }
    }

private:
    static bool IsCode(std::uint8_t b) { return b == 1 || b == 2 || b == 5 || b == 6; }

    void Step(std::uint8_t b, CDioReplySink& sink) {
        switch (m_nState) {
        case 0:
            if (IsCode(b)) {
                m_nCommand = b;
                m_nState = 1;
            } else {
                m_nState = -1;
            }
            return;
        case 1:
            m_nState = b == 0x02 ? 2 : -2;
            return;
        case 2:
            m_nState = b == 0x00 ? 3 : -3;
            return;
        case 3:
            m_nIndex = 0;
            m_nRemaining = b;
            m_nState = b == 0 ? 0 : 4;
            return;
        case 4:
            --m_nRemaining;
            Payload(b, sink);
            ++m_nIndex;
            if (m_nRemaining == 0) {
                sink.ClearPendingStart();
                m_nState = 0;
            }
            return;
        case -1:
            m_nState = -2;
            return;
        case -2:
            m_nState = -3;
            return;
        case -3:
            m_nRemaining = b;
            m_nState = b == 0 ? 0 : -4;
            return;
        default: // -4
            --m_nRemaining;
            if (m_nRemaining == 0) {
                m_nState = 0;
            }
            return;
        }
    }

    void Payload(std::uint8_t b, CDioReplySink& sink) {
        if (m_nCommand == 1) {
            if (m_nIndex == 0) {
                m_nRow = b;
            } else if (m_nIndex == 1) {
                if (m_nRow < sink.GetRowCount() && b <= 1) {
                    sink.SetRowMode(m_nRow, b);
                }
            } else if (m_nIndex == 2) {
                if (m_nRow < sink.GetRowCount() && b <= 1) {
                    sink.SetRowState(m_nRow, b);
                }
            }
        } else if (m_nCommand == 5) {
            if (m_nIndex == 0) {
                m_nRow = sink.GetPendingStart();
            }
            if (m_nRow < 0) {
                m_nRow = 0;
            }
            if (m_nRow < sink.GetRowCount()) {
                if (m_nIndex % 2 == 0) {
                    if (b <= 1) {
                        sink.SetRowMode(m_nRow, b);
                    }
                } else {
                    if (b <= 1) {
                        sink.SetRowState(m_nRow, b);
                    }
                    ++m_nRow;
                }
            }
        }
    }

    int m_nState = 0;
    int m_nRemaining = 0;
    int m_nIndex = 0;
    int m_nCommand = 0;
    int m_nRow = 0;
};
