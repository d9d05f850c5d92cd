// The hex-and-character dump of sent and received bytes: the wire's text form, shown in the
// log pane and printed by the simulator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class TrafficDirection { Received = 0, Sent = 1 };

// How the dump shows what does not read the same everywhere.
struct TrafficDumpStyle {
    // Bytes from 0x80 up as '.' in the character column, for a system code page where two
    // such bytes can merge into one character and shift the column.
    bool bHighBytesAsDots = false;
    // Starts every line when not empty: the time of the transfer, when timestamps are on.
    std::string_view linePrefix = {};
};

// Builds the dump text of count bytes: a direction mark ('>' sent, '<' received), then one
// line per 16 bytes with 16 hex fields, " | " and the bytes as characters (below 0x20 as '.').
// Continuation lines are indented by one space. Every line ends in "\r\n". A count of zero
// or less gives the mark alone, with no line end. A non-empty style.linePrefix (a time, say)
// starts every line, continuation lines and the bare mark included.
std::string FormatTrafficDump(TrafficDirection direction, const std::uint8_t* data, int count,
                              const TrafficDumpStyle& style = {});

// Appends the same text to out (so a caller can reuse one buffer).
void AppendTrafficDump(std::string& out, TrafficDirection direction, const std::uint8_t* data,
                       int count, const TrafficDumpStyle& style = {});
