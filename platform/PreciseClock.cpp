#include "platform/PreciseClock.h"

#include "platform/Win32.h"
#include "protocol/LogTime.h"

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
} // namespace

std::chrono::system_clock::time_point PreciseTimeNow() {
    FILETIME utc;
    PreciseTimeFunction()(&utc);
    // 100-nanosecond ticks since 1601; the system clock counts from 1970.
    constexpr std::int64_t TICKS_1601_TO_1970 = 116444736000000000LL;
    const std::int64_t ticks =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(utc.dwHighDateTime) << 32) |
                                  utc.dwLowDateTime) -
        TICKS_1601_TO_1970;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>(ticks)));
}

std::string LocalLogTimeNow() {
    return FormatLocalLogTime(PreciseTimeNow());
}
