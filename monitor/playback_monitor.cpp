// The playback monitor: on each tick of the status timer it infers playing,
// paused or stopped from the player's IsPlaying and from whether audio blocks
// have flowed since the previous tick, watches the remaining time for jumps,
// and publishes only when what the card shows no longer matches: another
// state, a clock off by more than the tolerance, or new settings. It also
// publishes a closed track once no other track has opened after it, and
// sends a held publication once Discord will take it.
#include "monitor/playback_monitor.h"

#include "plugin/plugin_state.h"
#include "presence/composer.h"
#include "presence/conversions.h"
#include "presence/publisher.h"
#include "presence/wall_clock.h"

// The tick's period in seconds, by which the expected remaining time falls.
static const int32_t TickSeconds = 2;

// A difference above this many seconds between the expected and the real
// remaining time counts as a jump.
static const uint32_t JumpToleranceSeconds = 5;

// For this long after a notification published the track, a tick does not
// judge its clock: the player may still report the previous item's
// position for a moment (a CUE sheet's next part, some 0.75 s).
static const uint32_t NotificationSettleMs = 1000;

// The track's length and position as the player reports them now.
struct TrackClock {
    int32_t length;
    int32_t position;
};

static TrackClock ReadTrackClock(void) {
    TrackClock clock;
    char* lengthText = misc->GetTag(TagLengthSeconds);
    clock.length = TextToInt32(lengthText);
    misc->Free(lengthText);
    clock.position = SecondsToInt32(status->GetTime());
    return clock;
}

// The remaining time the card's clock should show at this tick. Normally one
// tick less than at the previous tick. After a notification published the
// track, its length less the position published, less the whole seconds
// since; within NotificationSettleMs of it, and after one that published no
// clock, the real remaining time: there is nothing yet to judge. All
// differences wrap at 32 bits, so no length or position can overflow.
static int32_t ExpectedRemaining(const TrackClock& clock, int32_t remaining, uint32_t nowMs) {
    if (notifiedPositionPending.load(std::memory_order_acquire)) {
        const uint32_t sinceMs = nowMs - notifiedAtMs.load(std::memory_order_relaxed);
        if (sinceMs < NotificationSettleMs) return remaining;
        notifiedPositionPending.store(false, std::memory_order_relaxed);
        const int32_t published = notifiedPosition.load(std::memory_order_relaxed);
        if (published < 0) return remaining;
        const int32_t elapsed = static_cast<int32_t>(sinceMs / 1000u);
        return WrappingSubtract(WrappingSubtract(clock.length, published), elapsed);
    }
    return WrappingSubtract(expectedRemaining.load(std::memory_order_relaxed), TickSeconds);
}

// What the player is doing: stopped when it says so, paused when no audio
// block came since the previous tick, else playing.
static PlaybackState ObservePlayback(void) {
    if (status->IsPlaying() == 0) return Stopped;
    if (processCount.load(std::memory_order_relaxed) == lastProcessCount) return Paused;
    return Playing;
}

void NotePublishedPosition(int32_t position) {
    notifiedPosition.store(position, std::memory_order_relaxed);
    notifiedAtMs.store(ReadMonotonicMs(), std::memory_order_relaxed);
    notifiedPositionPending.store(true, std::memory_order_release);
}

// Infers the player's state and publishes what the card no longer matches.
static void JudgePlayback(void) {
    // Between a track's close and the next track's open the old track's
    // tail may still play with no tags at all: nothing to judge by.
    const uint32_t nowMs = ReadMonotonicMs();
    const ClosedTrack closed = PublishClosedTrackWhenDue(nowMs);
    if (closed == ClosedTrackWaiting) return;
    const PlaybackState observed = closed == ClosedTrackPublished ? Stopped : ObservePlayback();
    observedState.store(observed);
    lastProcessCount = processCount.load(std::memory_order_relaxed);
    if (closed == ClosedTrackPublished) return;

    // The dialog's OK stores its settings before this request, releasing;
    // taken here acquiring, the publication below sees them.
    const bool republish = republishRequested.exchange(false, std::memory_order_acquire);
    bool jumped = false;
    const bool stateChanged = observed != publishedState.load();
    if (observed == Playing) {
        // Every playing tick keeps the expectation in step, whatever the
        // time mode; a Playing publication adopts the real remaining time,
        // which its clock then shows.
        const TrackClock clock = ReadTrackClock();
        const int32_t remaining = WrappingSubtract(clock.length, clock.position);
        const int32_t expected = ExpectedRemaining(clock, remaining, nowMs);
        jumped = Magnitude(WrappingSubtract(remaining, expected)) > JumpToleranceSeconds;
        expectedRemaining.store(jumped || republish || stateChanged ? remaining : expected,
                                std::memory_order_relaxed);
    }
    if (jumped || republish || stateChanged) PublishPlaybackState(observed);
}

void RunMonitorTick(void) {
    if (!instanceLive.load()) return;
    JudgePlayback();
    // Last, so that what this tick published replaces a held record first.
    SendHeldPresenceWhenDue();
}
