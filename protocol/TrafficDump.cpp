// The hex-and-character dump of sent and received bytes that the log pane shows.
#include "protocol/TrafficDump.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr int BYTES_PER_LINE = 16;
// Mark or indent, 16 hex fields of 3, " | ", "\r\n": everything on a line but its characters.
constexpr std::size_t LINE_OVERHEAD = 1 + 3 * BYTES_PER_LINE + 3 + 2;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// " %02X" of every byte value, padded to four characters.
struct HexFieldTable {
    char text[256][4];
};

constexpr HexFieldTable MakeHexFields() {
    HexFieldTable table{};
    for (int b = 0; b < 256; ++b) {
        table.text[b][0] = ' ';
        table.text[b][1] = HEX_DIGITS[b >> 4];
        table.text[b][2] = HEX_DIGITS[b & 0x0F];
        table.text[b][3] = ' ';
    }
    return table;
}

constexpr HexFieldTable HEX_FIELDS = MakeHexFields();

constexpr char DirectionMark(TrafficDirection direction) {
    return direction == TrafficDirection::Sent ? '>' : '<';
}

} // namespace

std::string FormatTrafficDump(TrafficDirection direction, const std::uint8_t* data, int count,
                              const TrafficDumpStyle& style) {
    std::string text;
    AppendTrafficDump(text, direction, data, count, style);
    return text;
}

void AppendTrafficDump(std::string& out, TrafficDirection direction, const std::uint8_t* data,
                       int count, const TrafficDumpStyle& style) {
    const std::string_view linePrefix = style.linePrefix;
    if (count <= 0 || data == nullptr) {
        // A failed or empty transfer shows as the mark alone; the next log text follows it on
        // the same line.
        out.append(linePrefix);
        out.push_back(DirectionMark(direction));
        return;
    }

    const std::size_t bytes = static_cast<std::size_t>(count);
    const std::size_t lines = (bytes + BYTES_PER_LINE - 1) / BYTES_PER_LINE;
    const std::size_t start = out.size();
    // The exact size is known up front: one allocation, then the text is written in place.
    out.resize(start + lines * (linePrefix.size() + LINE_OVERHEAD) + bytes);
    char* w = out.data() + start;
    // The first byte that shows as '.': 0x20, or 0x80 where the upper half would shift columns.
    const unsigned highest = style.bHighBytesAsDots ? 0x7F : 0xFF;

    for (std::size_t offset = 0; offset < bytes; offset += BYTES_PER_LINE) {
        const std::uint8_t* line = data + offset;
        const std::size_t left = bytes - offset;
        const std::size_t used = left < BYTES_PER_LINE ? left : BYTES_PER_LINE;

        if (!linePrefix.empty()) {
            std::memcpy(w, linePrefix.data(), linePrefix.size());
            w += linePrefix.size();
        }
        // The first line carries the mark; continuation lines are indented by its width.
        *w++ = offset == 0 ? DirectionMark(direction) : ' ';
        // Each field is copied whole from a table: " XX" and one spare character that the
        // next field (or the padding, or " | ") overwrites.
        for (std::size_t j = 0; j < used; ++j) {
            std::memcpy(w, HEX_FIELDS.text[line[j]], 4);
            w += 3;
        }
        for (std::size_t j = used; j < BYTES_PER_LINE; ++j) {
            *w++ = ' ';
            *w++ = ' ';
            *w++ = ' ';
        }
        *w++ = ' ';
        *w++ = '|';
        *w++ = ' ';
        // Control characters would break the line: they show as '.'. Every other byte, the
        // upper half included unless the style says otherwise, is put in as itself.
        for (std::size_t j = 0; j < used; ++j) {
            const std::uint8_t b = line[j];
            *w++ = b < 0x20 || b > highest ? '.' : static_cast<char>(b);
        }
        *w++ = '\r';
        *w++ = '\n';
    }
}
