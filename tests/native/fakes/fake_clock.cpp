// The fixed clocks the native tests link in place of the real ones: a wall
// clock that stands where the test sets it, and a monotonic count that moves
// only when the test advances it, or by a quarter minute and more at every
// update or clear the library takes (see StepClockAtUpdates).
#include <atomic>

#include "fakes/fakes_internal.h"
#include "presence/wall_clock.h"

namespace fake {

static std::atomic<int64_t> now{DefaultNow};
static std::atomic<int> reads;
static std::atomic<uint32_t> monotonicMs{DefaultMonotonicMs};
static std::atomic<bool> stepAtUpdates{true};

void SetWallClock(int64_t secondsSince1970) { now.store(secondsSince1970); }

int ClockReads(void) { return reads.load(); }

void AdvanceMonotonicMs(uint32_t ms) { monotonicMs.fetch_add(ms); }

void StepClockAtUpdates(bool step) { stepAtUpdates.store(step); }

void StepClockForUpdate(void) {
    if (stepAtUpdates.load()) monotonicMs.fetch_add(ClockStepAtUpdateMs);
}

void ResetClock(void) {
    now.store(DefaultNow);
    reads.store(0);
    monotonicMs.store(DefaultMonotonicMs);
    stepAtUpdates.store(true);
}

}  // namespace fake

int64_t ReadWallClock(void) {
    fake::reads.fetch_add(1);
    return fake::now.load();
}

uint32_t ReadMonotonicMs(void) { return fake::monotonicMs.load(); }
