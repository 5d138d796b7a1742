// The playback monitor: infers playing, paused and stopped from the player's
// answers and the flow of audio blocks, detects seeks, and publishes on change.
#pragma once

#include <cstdint>

// One tick of the two-second status timer.
void RunMonitorTick(void);

// A notification published the current track as Playing at this position
// (-1: with no clock): the next tick judges the clock against it rather
// than against its own expectation, so the track is not published twice.
void NotePublishedPosition(int32_t position);
