#include "connection/LogHandOff.h"

#include <utility>

namespace {
// text with prefix at the start of each of its lines (the first only when atLineStart).
std::string PrefixLines(const std::string& text, std::string_view prefix, bool atLineStart) {
    std::string out;
    out.reserve(text.size() + prefix.size() * (text.size() / 40 + 2));
    bool lineStart = atLineStart;
    for (const char c : text) {
        if (lineStart)
            out += prefix;
        out += c;
        lineStart = c == '\n';
    }
    return out;
}
} // namespace

std::string CLogHandOff::StartLines(std::string text, std::string_view linePrefix) {
    if (text.empty())
        return text;
    if (!linePrefix.empty())
        text = PrefixLines(text, linePrefix, m_bAtLineStart);
    m_bAtLineStart = text.back() == '\n';
    return text;
}

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
    m_bAtLineStart = true;
    m_pieces.clear();
    m_nChars = 0;
    m_bGap = false;
}
