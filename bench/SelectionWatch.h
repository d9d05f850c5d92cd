// When a selector of the dialog last had its selection set, timed where it happens: on the
// dialog's thread, as the selector receives CB_SETCURSEL (from a device's answer, say).
#pragma once

#include "bench/BenchClock.h"
#include "platform/Win32.h"

#include <atomic>

// NowMs() of the last CB_SETCURSEL to the watched selector; the benchmark zeroes it.
inline std::atomic<double> g_selectedAt{0};

inline LRESULT CALLBACK WatchSelection(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR, DWORD_PTR) {
    if (message == CB_SETCURSEL)
        g_selectedAt = NowMs();
    return ::DefSubclassProc(hWnd, message, wParam, lParam);
}
