// Cuts the client's byte stream into whole request frames.
#include "tools/simulator/RequestFramer.h"

#include "protocol/DioFrame.h"

#include <algorithm>

void CRequestFramer::Feed(const std::uint8_t* data, std::size_t length,
                          std::vector<SimFrame>& frames) {
    constexpr std::size_t HEADER = DIO_FRAME_HEADER_SIZE;
    std::size_t pos = 0;
    while (pos < length) {
        const std::size_t have = m_vecPending.size();
        const std::size_t need = have < HEADER ? HEADER : HEADER + m_vecPending[HEADER - 1];
        const std::size_t take = std::min(need - have, length - pos);
        m_vecPending.insert(m_vecPending.end(), data + pos, data + pos + take);
        pos += take;
        if (m_vecPending.size() >= HEADER &&
            m_vecPending.size() == HEADER + m_vecPending[HEADER - 1]) {
            frames.push_back(std::move(m_vecPending));
            m_vecPending.clear();
        }
    }
}
