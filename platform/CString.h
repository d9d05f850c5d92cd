// Text as the program handles it: single-byte (ANSI) strings.
#pragma once

#include <string>

using CString = std::string;

#if defined(__GNUC__)
#define KELVANE_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KELVANE_PRINTF_FORMAT(fmt, args)
#endif

// printf-style formatting into a new string.
CString FormatString(const char* format, ...) KELVANE_PRINTF_FORMAT(1, 2);
