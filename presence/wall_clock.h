// The clocks the plug-in reads: the wall clock the presence timestamps come
// from, and a monotonic millisecond count for short waits. The native tests
// link fixed clocks in their place.
#pragma once

#include <cstdint>

// Whole seconds since 1970-01-01 00:00:00 UTC.
int64_t ReadWallClock(void);

// Milliseconds since an arbitrary start, never going back; wraps at 32 bits
// (every 49.7 days), so only differences taken with unsigned wrap-around
// mean anything.
uint32_t ReadMonotonicMs(void);
