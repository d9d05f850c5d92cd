// The words for a DIO's mode and state: "Input" or "Output", "Low" or "High", as the rows show
// them, and their lower-case forms, which the command line and the simulator's control port
// read and write (and JSON carries).
#pragma once

#include <string_view>

// Any value other than DIO_MODE_OUTPUT is "Input", any other than DIO_STATE_HIGH is "Low".
const char* DioModeWord(int mode);
const char* DioStateWord(int state);
// "input" or "output", "low" or "high".
const char* DioModeKey(int mode);
const char* DioStateKey(int state);

// The value a lower-case word names: true with DIO_MODE_* or DIO_STATE_* in value, false (and
// value unchanged) for any other word.
bool ParseDioModeKey(std::string_view word, int& value);
bool ParseDioStateKey(std::string_view word, int& value);
