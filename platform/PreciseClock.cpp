#include "platform/PreciseClock.h"

#include "platform/Win32.h"

#include <cstdint>

namespace {
using GetTimeFunction = VOID(WINAPI*)(LPFILETIME);

GetTimeFunction PreciseTimeFunction() {
    // Looked up once: older systems have only the tick-resolution clock.
    static const GetTimeFunction function = [] {
        HMODULE hKernel = ::GetModuleHandleA("kernel32.dll");
        FARPROC proc = hKernel != nullptr
                           ? ::GetProcAddress(hKernel, "GetSystemTimePreciseAsFileTime")
                           : nullptr;
        return proc != nullptr ? reinterpret_cast<GetTimeFunction>(reinterpret_cast<void*>(proc))
                               : &::GetSystemTimeAsFileTime;
    }();
    return function;
}

// 100-nanosecond intervals from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr std::int64_t FILETIME_UNIX_EPOCH = 116444736000000000;
} // namespace

std::chrono::system_clock::time_point PreciseSystemTime() {
    FILETIME utc;
    PreciseTimeFunction()(&utc);
    const std::int64_t ticks = (static_cast<std::int64_t>(utc.dwHighDateTime) << 32) |
                               static_cast<std::int64_t>(utc.dwLowDateTime);
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            Ticks(ticks - FILETIME_UNIX_EPOCH)));
}
