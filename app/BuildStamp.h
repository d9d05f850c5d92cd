// The build stamp the About box shows after "Build ".
#pragma once

#include <string>

// The date and time of the build in the compiler's forms ("Jul 16 2007", "11:52:10"). The
// build passes both in when it is to be reproducible (from SOURCE_DATE_EPOCH); otherwise they
// are the time at which the file that uses them was compiled.
#ifndef KELVANE_BUILD_DATE
#define KELVANE_BUILD_DATE __DATE__
#endif
#ifndef KELVANE_BUILD_TIME
#define KELVANE_BUILD_TIME __TIME__
#endif

// The month of a build date in the compiler's form ("Jul 16 2007"): 1 to 12 for "Jan" to
// "Dec", compared case-sensitively on the first three characters; 0 when none matches.
int BuildMonthNumber(const char* buildDate);

// The 8-character stamp YYMMDDHH from a build date ("Jul 16 2007") and time ("11:52:10"):
// the last two digits of the year, the two-digit month, the day as written in the date (so
// a single-digit day keeps its leading space) and the hour. A character that a too-short
// text lacks shows as '?'.
std::string MakeBuildStamp(const char* buildDate, const char* buildTime);
