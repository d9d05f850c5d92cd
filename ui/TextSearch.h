// Finding a text in the log's text, the way the Find dialog asks for it.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

struct TextSearch {
    bool bDown = true;       // towards the end, else towards the start
    bool bMatchCase = false; // else letters match whatever their case (ASCII)
    bool bWholeWord = false; // else a match may start or end inside a word
};

// Where the next match of what lies in text: down, the first one starting at from or later;
// up, the last one ending at from or earlier. Nothing when there is none (the search does not
// wrap) or what is empty. Words are runs of letters, digits and '_'.
std::optional<std::size_t> FindInText(std::string_view text, std::string_view what,
                                      std::size_t from, const TextSearch& how);
