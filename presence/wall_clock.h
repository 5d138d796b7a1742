// The wall clock the presence timestamps are read from; the native tests link
// a fixed clock in its place.
#pragma once

#include <cstdint>

// Whole seconds since 1970-01-01 00:00:00 UTC.
int64_t ReadWallClock(void);
