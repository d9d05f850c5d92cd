// The time that starts a log line when timestamps are on.
#include "protocol/LogTime.h"

#include <ctime>

namespace {

// value brought into 0..range-1, written with digits characters.
void AppendField(std::string& out, int value, int range, int digits) {
    value %= range;
    if (value < 0) {
        value += range;
    }
    char text[3];
    for (int i = digits - 1; i >= 0; --i) {
        text[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(text, static_cast<std::size_t>(digits));
}

} // namespace

std::string FormatLogTime(int hour, int minute, int second, int millisecond) {
    std::string text;
    text.reserve(LOG_TIME_LENGTH);
    AppendField(text, hour, 24, 2);
    text.push_back(':');
    AppendField(text, minute, 60, 2);
    text.push_back(':');
    // 60 covers a leap second.
    AppendField(text, second, 61, 2);
    text.push_back('.');
    AppendField(text, millisecond, 1000, 3);
    text.push_back(' ');
    return text;
}

std::string FormatLocalLogTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(when.time_since_epoch());
    auto secondsPart = duration_cast<seconds>(sinceEpoch);
    auto millisecondsPart = sinceEpoch - duration_cast<milliseconds>(secondsPart);
    if (millisecondsPart.count() < 0) {
        // Before the epoch: the milliseconds count up from the second before.
        secondsPart -= seconds(1);
        millisecondsPart += seconds(1);
    }
    const std::time_t time = static_cast<std::time_t>(secondsPart.count());
    std::tm local{};
#ifdef _WIN32
    const bool converted = localtime_s(&local, &time) == 0;
#else
    const bool converted = localtime_r(&time, &local) != nullptr;
#endif
    if (!converted) {
        return FormatLogTime(0, 0, 0, 0);
    }
    return FormatLogTime(local.tm_hour, local.tm_min, local.tm_sec,
                         static_cast<int>(millisecondsPart.count()));
}
