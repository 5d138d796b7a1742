// The playback monitor: infers playing, paused and stopped from the player's
// answers and the flow of audio blocks, detects seeks, and publishes on change.
#pragma once

// One tick of the two-second status timer.
void RunMonitorTick(void);
