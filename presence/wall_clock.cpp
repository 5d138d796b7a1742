// The real wall clock of the DLL: the C runtime's 64-bit calendar time. The
// 32-bit build's time_t is 32 bits wide and would end in 2038, so the
// explicitly 64-bit _time64 is used.
#include <time.h>

#include "presence/wall_clock.h"

int64_t ReadWallClock(void) { return static_cast<int64_t>(_time64(nullptr)); }
