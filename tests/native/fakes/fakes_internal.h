// What the fake modules share among themselves: the one mutex, the call log's
// append, and each module's reset. Not for tests; they use fakes.h.
#pragma once

#include <mutex>

#include "fakes/fakes.h"

namespace fake {

// Held by every fake entry point for its whole run.
std::mutex& FakeMutex(void);

// Appends one call to the log and returns its sequence number. The caller
// holds FakeMutex.
uint64_t AppendCall(Call call, int64_t number, const void* pointer);

// Each module's part of Reset; the caller holds FakeMutex.
void ResetLog(void);
void ResetPlayer(void);
void ResetLibrary(void);
void ResetWindows(void);
void ResetClock(void);

// Moves the monotonic count on by ClockStepAtUpdateMs when the steps are on;
// the library's update and clear call it.
void StepClockForUpdate(void);

}  // namespace fake
