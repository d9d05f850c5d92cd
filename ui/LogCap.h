// How big the log pane may grow. A device that never stops talking must not make the log
// grow without bound (the rich edit control costs tens of bytes of memory per character), so
// the log is kept under a fixed cap: past it, the oldest whole lines go. The figures come from
// measurements in Wine's rich edit (bench/LogPaneBench.cpp), where removing text costs about as
// much per character as adding it and emptying a log grows faster than its length: "Clear
// Log" on a full log of this size takes about 200 ms, a trim well under that.
#pragma once

#include <cstddef>
#include <string_view>

// The log never holds more characters than this.
constexpr long LOG_CAP_CHARS = 48000;
// A trim cuts the log down so that with the new text it holds this many characters.
constexpr long LOG_TRIM_TO_CHARS = 32000;
// Log text written into the pane by one paced apply: a trim and an append of this size stay
// cheap even in Wine's rich edit. More waits for the next apply (or is overtaken).
constexpr std::size_t LOG_APPLY_MAX_CHARS = 4 * 1024;
// The control's own text limit: above anything the cap lets in, so it never cuts text off.
constexpr long LOG_CONTROL_LIMIT = 4 * LOG_CAP_CHARS;

// How many characters must go from the front of a log of logLength characters before
// incoming more are added: 0 while the total stays within the cap, otherwise enough to leave
// LOG_TRIM_TO_CHARS including the new text (everything, when the new text alone is that long).
// Trimming well below the cap keeps trims rare: each costs about as much per character as
// appending.
long LogCharsToTrim(long logLength, long incoming);

// Where the newest part of text that fits in maxChars starts: the start of a whole line (just
// after a '\n'), or 0 when all of text fits. When not even the last line fits, the last
// line's start.
std::size_t LogTailStart(std::string_view text, std::size_t maxChars);
