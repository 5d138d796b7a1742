// The real clocks of the DLL. The wall clock is the C runtime's 64-bit
// calendar time: the 32-bit build's time_t is 32 bits wide and would end in
// 2038, so the explicitly 64-bit _time64 is used. The monotonic count is
// the system's tick count, which a change of the wall clock leaves alone.
#include <windows.h>

#include <time.h>

#include "presence/wall_clock.h"

int64_t ReadWallClock(void) { return static_cast<int64_t>(_time64(nullptr)); }

uint32_t ReadMonotonicMs(void) { return static_cast<uint32_t>(GetTickCount()); }
