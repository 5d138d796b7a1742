// The fixed wall clock the native tests link in place of the real one.
#include <atomic>

#include "fakes/fakes_internal.h"
#include "presence/wall_clock.h"

namespace fake {

static std::atomic<int64_t> now{DefaultNow};
static std::atomic<int> reads;

void SetWallClock(int64_t secondsSince1970) { now.store(secondsSince1970); }

int ClockReads(void) { return reads.load(); }

void ResetClock(void) {
    now.store(DefaultNow);
    reads.store(0);
}

}  // namespace fake

int64_t ReadWallClock(void) {
    fake::reads.fetch_add(1);
    return fake::now.load();
}
