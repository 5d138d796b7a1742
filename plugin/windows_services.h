// The few Windows services the portable code asks for. The Windows-facing
// files implement them; the native tests link recording fakes instead.
#pragma once

#include "host/xmp_host.h"

// Starts the two-second status timer (identifier 0) on the given window.
void StartStatusTimer(HostWindow window);

// Stops the status timer on the given window.
void StopStatusTimer(HostWindow window);

// Ends the open settings dialog as if cancelled.
void EndConfigDialog(HostWindow dialog);
