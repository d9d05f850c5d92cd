#include "ui/TextSearch.h"

namespace {
char Folded(char c, bool bMatchCase) {
    return !bMatchCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool MatchesAt(std::string_view text, std::string_view what, std::size_t at,
               const TextSearch& how) {
    for (std::size_t i = 0; i < what.size(); ++i) {
        if (Folded(text[at + i], how.bMatchCase) != Folded(what[i], how.bMatchCase))
            return false;
    }
    if (!how.bWholeWord)
        return true;
    const std::size_t end = at + what.size();
    return (at == 0 || !IsWordChar(text[at - 1])) && (end == text.size() || !IsWordChar(text[end]));
}
} // namespace

std::optional<std::size_t> FindInText(std::string_view text, std::string_view what,
                                      std::size_t from, const TextSearch& how) {
    if (what.empty() || what.size() > text.size())
        return std::nullopt;
    const std::size_t last = text.size() - what.size(); // the last place a match can start
    if (how.bDown) {
        for (std::size_t at = from; at <= last; ++at) {
            if (MatchesAt(text, what, at, how))
                return at;
        }
        return std::nullopt;
    }
    if (from < what.size())
        return std::nullopt;
    for (std::size_t at = from - what.size() < last ? from - what.size() : last;; --at) {
        if (MatchesAt(text, what, at, how))
            return at;
        if (at == 0)
            return std::nullopt;
    }
}
