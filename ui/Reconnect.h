// Connecting again by itself when the device drops the connection, at ReconnectDelay's pace:
// how long one attempt may take, and the log's words for a failed one. The dialog's side (the
// menu, the attempts, the timers) is ui/Reconnect_win.cpp.
#pragma once

#include "connection/ReconnectBackoff.h"

#include <chrono>
#include <string>
#include <string_view>

// An attempt that has no answer by then is given up (a device that is off answers nothing).
constexpr std::chrono::milliseconds RECONNECT_ATTEMPT_WAIT{5000};

// The log line of a failed attempt, the system's reason starting in lower case:
// "Reconnect failed: connection refused\r\n".
std::string ReconnectFailedLine(std::string_view reason);
