#include "ui/Reconnect.h"

std::string ReconnectFailedLine(std::string_view reason) {
    std::string line = "Reconnect failed: ";
    const std::size_t first = line.size();
    line += reason;
    if (line.size() > first && line[first] >= 'A' && line[first] <= 'Z')
        line[first] = static_cast<char>(line[first] - 'A' + 'a');
    return line + "\r\n";
}
