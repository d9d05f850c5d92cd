#include "connection/LogHandOff.h"

#include <utility>

void CLogHandOff::Append(std::string text) {
    if (text.empty())
        return;
    m_nChars += text.size();
    m_pieces.push_back(std::move(text));
    // The oldest appends go for as long as what is left still fills the pane.
    while (m_pieces.size() > 1 && m_nChars - m_pieces.front().size() >= m_nKeepChars) {
        m_nChars -= m_pieces.front().size();
        m_pieces.pop_front();
        m_bGap = true;
    }
}

bool CLogHandOff::Take(std::string& out, std::size_t maxChars) {
    out.clear();
    while (!m_pieces.empty() && (out.empty() || out.size() < maxChars)) {
        m_nChars -= m_pieces.front().size();
        if (out.empty())
            out.swap(m_pieces.front());
        else
            out += m_pieces.front();
        m_pieces.pop_front();
    }
    return std::exchange(m_bGap, false);
}

void CLogHandOff::Clear() {
    m_pieces.clear();
    m_nChars = 0;
    m_bGap = false;
}
