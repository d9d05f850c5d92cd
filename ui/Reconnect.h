// Connecting again by itself when the device drops the connection: when each attempt is due,
// how long one may take, and the log's words for a failed one. The dialog's side (the menu,
// the attempts, the timers) is ui/Reconnect_win.cpp.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

// How long to wait before the next attempt, after this many attempts have failed since the
// connection dropped: 1 s, 2 s and 4 s, then every 5 s.
std::chrono::milliseconds ReconnectDelay(int nFailedAttempts);

// An attempt that has no answer by then is given up (a device that is off answers nothing).
constexpr std::chrono::milliseconds RECONNECT_ATTEMPT_WAIT{5000};

// The log line of a failed attempt, the system's reason starting in lower case:
// "Reconnect failed: connection refused\r\n".
std::string ReconnectFailedLine(std::string_view reason);
