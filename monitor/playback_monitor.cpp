// The playback monitor: on each tick of the status timer it infers playing,
// paused or stopped from the player's IsPlaying and from whether audio blocks
// have flowed since the previous tick, watches the remaining time for jumps,
// and publishes only when the state changes or the position jumped.
#include "monitor/playback_monitor.h"

#include "plugin/plugin_state.h"
#include "presence/composer.h"
#include "presence/conversions.h"

// The tick's period in seconds, by which the expected remaining time falls.
static const int32_t TickSeconds = 2;

// A difference above this many seconds between the expected and the real
// remaining time counts as a jump.
static const uint32_t JumpToleranceSeconds = 5;

// Lowers the expected remaining time by one tick and compares it with the
// track's. On a jump, adopts the real remaining time and returns true. All
// differences wrap at 32 bits, so no length or position can overflow.
//
// The dialog's OK may store its own expectation on another thread at any
// moment, to make this tick republish with its new settings; each change of
// the guard here is therefore one compare-exchange, and a failed one means
// OK has spoken: its value stands, and this tick judges by it. OK stores its
// settings before its guard, releasing; the guard is read here acquiring,
// so a tick that sees OK's value also sees its settings when it publishes.
static bool PositionJumped(void) {
    int32_t held = expectedRemaining.load(std::memory_order_acquire);
    int32_t expected = WrappingSubtract(held, TickSeconds);
    if (!expectedRemaining.compare_exchange_strong(held, expected, std::memory_order_acq_rel,
                                                   std::memory_order_acquire))
        expected = held;
    char* lengthText = misc->GetTag(TagLengthSeconds);
    const int32_t length = TextToInt32(lengthText);
    misc->Free(lengthText);
    const int32_t position = SecondsToInt32(status->GetTime());
    const int32_t remaining = WrappingSubtract(length, position);
    if (Magnitude(WrappingSubtract(remaining, expected)) <= JumpToleranceSeconds) return false;
    // An OK since the exchange above keeps its value, so the next tick
    // republishes once more with its settings.
    expectedRemaining.compare_exchange_strong(expected, remaining, std::memory_order_acq_rel,
                                              std::memory_order_relaxed);
    return true;
}

void RunMonitorTick(void) {
    if (!instanceLive.load()) return;
    if (status->IsPlaying() == 0) {
        observedState = Stopped;
    } else if (processCount.load(std::memory_order_relaxed) == lastProcessCount) {
        observedState = Paused;
    } else {
        observedState = Playing;
        // A jump republishes the track and ends the tick: no state is
        // recorded, so a later quiet tick still publishes a pending change.
        if (PositionJumped()) {
            PublishCurrentTrack();
            return;
        }
    }
    lastProcessCount = processCount.load(std::memory_order_relaxed);
    if (observedState != publishedState) {
        publishedState = observedState;
        PublishPlaybackState(publishedState);
    }
}
