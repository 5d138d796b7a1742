// The two-second status timer that runs the monitor's ticks. The Windows
// timer implements it; the native tests link a recording fake instead.
#pragma once

#include "host/xmp_host.h"

// Starts the status timer (identifier 0, every 2000 ms) on the given window,
// which must belong to the calling thread.
void StartStatusTimer(HostWindow window);

// Stops the status timer on the given window; no tick arrives afterwards.
void StopStatusTimer(HostWindow window);
