// The build stamp the About box shows after "Build ".
#include "app/BuildStamp.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr const char* MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Character index of a text, or '?' when the text ends (or is missing) before it.
char CharAt(const char* text, std::size_t index) {
    if (text == nullptr) {
        return '?';
    }
    for (std::size_t i = 0; i < index; ++i) {
        if (text[i] == '\0') {
            return '?';
        }
    }
    return text[index] != '\0' ? text[index] : '?';
}

} // namespace

int BuildMonthNumber(const char* buildDate) {
    if (buildDate == nullptr) {
        return 0;
    }
    int month = 1;
    for (const char* name : MONTH_NAMES) {
        // strncmp stops at the end of a shorter date, so nothing past it is read.
        if (std::strncmp(buildDate, name, 3) == 0) {
            return month;
        }
        ++month;
    }
    return 0;
}

std::string MakeBuildStamp(const char* buildDate, const char* buildTime) {
    const int month = BuildMonthNumber(buildDate);
    std::string stamp;
    stamp.reserve(8);
    stamp.push_back(CharAt(buildDate, 9));
    stamp.push_back(CharAt(buildDate, 10));
    stamp.push_back(static_cast<char>('0' + month / 10));
    stamp.push_back(static_cast<char>('0' + month % 10));
    stamp.push_back(CharAt(buildDate, 4));
    stamp.push_back(CharAt(buildDate, 5));
    stamp.push_back(CharAt(buildTime, 0));
    stamp.push_back(CharAt(buildTime, 1));
    return stamp;
}
