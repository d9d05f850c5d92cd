// How long to wait before each attempt to connect again after a connection was lost: 1 s,
// 2 s and 4 s, then every 5 s. The window and kelvane-cli keep the same pace.
#pragma once

#include <chrono>

// The wait before the next attempt, when nFailedAttempts attempts have failed since the
// connection was lost (0: the wait before the first attempt).
std::chrono::milliseconds ReconnectDelay(int nFailedAttempts);
