#include "platform/PreciseClock.h"

#include "platform/Win32.h"
#include "protocol/LogTime.h"

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

std::string LocalLogTimeNow() {
    FILETIME utc;
    PreciseTimeFunction()(&utc);
    FILETIME local;
    SYSTEMTIME time;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &time))
        return FormatLogTime(0, 0, 0, 0);
    return FormatLogTime(time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
}
