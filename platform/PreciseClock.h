// The wall clock to the millisecond, for the times that start log lines.
#pragma once

#include <chrono>
#include <string>

// The wall clock now (UTC), read from the system's precise clock where it has one
// (GetSystemTimePreciseAsFileTime), which resolves far below a millisecond, not from the
// 10-16 ms tick of the ordinary one.
std::chrono::system_clock::time_point PreciseTimeNow();

// The local time now as "HH:MM:SS.mmm " (see protocol/LogTime.h), from PreciseTimeNow.
std::string LocalLogTimeNow();
