// The pace of the attempts to connect again.
#include "connection/ReconnectBackoff.h"

std::chrono::milliseconds ReconnectDelay(int nFailedAttempts) {
    constexpr std::chrono::milliseconds FIRST{1000};
    constexpr std::chrono::milliseconds LONGEST{5000};
    // Doubled after each failure until it reaches the longest.
    std::chrono::milliseconds delay = FIRST;
    for (int i = 0; i < nFailedAttempts && delay < LONGEST; ++i) {
        delay *= 2;
    }
    return delay < LONGEST ? delay : LONGEST;
}
