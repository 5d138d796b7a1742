// The wall clock both stand-ins stamp their records with, so that the
// player's log and the presence library's records can be compared in time.
#pragma once

#include <windows.h>

#include <cstdint>

// Milliseconds since 1970-01-01 00:00:00 UTC.
inline int64_t WallClockMs(void) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    const uint64_t unixEpochTicks = 116444736000000000ULL;  // 100 ns ticks from 1601 to 1970
    return static_cast<int64_t>((ticks.QuadPart - unixEpochTicks) / 10000ULL);
}
