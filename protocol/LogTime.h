// The time that starts a log line when timestamps are on: "HH:MM:SS.mmm ", local time.
#pragma once

#include <chrono>
#include <string>

// Characters of a formatted time, its trailing space included.
constexpr std::size_t LOG_TIME_LENGTH = 13;

// "HH:MM:SS.mmm " (24-hour, milliseconds, then one space). Each field is written with its
// fixed number of digits; a value out of its range is brought into it (hour modulo 24 and so
// on), so the text always has LOG_TIME_LENGTH characters.
std::string FormatLogTime(int hour, int minute, int second, int millisecond);

// The same for a moment of the system clock, in the local time zone.
std::string FormatLocalLogTime(std::chrono::system_clock::time_point when);
