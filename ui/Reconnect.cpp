#include "ui/Reconnect.h"

std::chrono::milliseconds ReconnectDelay(int nFailedAttempts) {
    using std::chrono::milliseconds;
    if (nFailedAttempts <= 0)
        return milliseconds(1000);
    if (nFailedAttempts == 1)
        return milliseconds(2000);
    if (nFailedAttempts == 2)
        return milliseconds(4000);
    return milliseconds(5000);
}

std::string ReconnectFailedLine(std::string_view reason) {
    std::string line = "Reconnect failed: ";
    const std::size_t first = line.size();
    line += reason;
    if (line.size() > first && line[first] >= 'A' && line[first] <= 'Z')
        line[first] = static_cast<char>(line[first] - 'A' + 'a');
    return line + "\r\n";
}
