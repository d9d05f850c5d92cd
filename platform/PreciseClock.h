// The wall clock, to well below a millisecond.
#pragma once

#include <chrono>

// Now, read from the system's precise clock where it has one (GetSystemTimePreciseAsFileTime),
// which resolves far below a millisecond, not from the 10-16 ms tick of the ordinary one.
std::chrono::system_clock::time_point PreciseSystemTime();
