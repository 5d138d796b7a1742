// The two-second status timer on the player's main window. Its ticks run on
// the thread that owns that window, inside its message loop.
#include <windows.h>

#include "monitor/status_timer.h"

#include "monitor/playback_monitor.h"

// Timer identifier on the player's window; the window owns no other timer of ours.
static const UINT_PTR statusTimerId = 0;
static const UINT statusTimerPeriodMs = 2000;

// Runs one monitor tick; the callback's own arguments are not used.
static void CALLBACK StatusTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD tickCount) {
    (void)window;
    (void)message;
    (void)timerId;
    (void)tickCount;
    RunMonitorTick();
}

void StartStatusTimer(HostWindow window) {
    SetTimer(window, statusTimerId, statusTimerPeriodMs, StatusTimerProc);
}

void StopStatusTimer(HostWindow window) { KillTimer(window, statusTimerId); }
