#include "ui/LogCap.h"

long LogCharsToTrim(long logLength, long incoming) {
    if (logLength <= 0 || logLength + incoming <= LOG_CAP_CHARS)
        return 0;
    const long keep = LOG_TRIM_TO_CHARS - incoming;
    if (keep <= 0)
        return logLength;
    return logLength - keep;
}

std::size_t LogTailStart(std::string_view text, std::size_t maxChars) {
    if (text.size() <= maxChars)
        return 0;
    // The first line start at or after the point where maxChars characters are left.
    const std::size_t from = text.size() - maxChars;
    const std::size_t newline = text.find('\n', from == 0 ? 0 : from - 1);
    if (newline != std::string_view::npos && newline + 1 < text.size())
        return newline + 1;
    // Not even the last line fits whole: keep the last line.
    if (text.size() < 2)
        return 0;
    const std::size_t lastNewline = text.find_last_of('\n', text.size() - 2);
    return lastNewline == std::string_view::npos ? 0 : lastNewline + 1;
}
