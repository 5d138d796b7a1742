// Fakes of the Windows-facing services and slots: the status timer, ending the
// settings dialog, and the Config and About slots. Each only logs itself.
#include "fakes/fakes_internal.h"
#include "monitor/status_timer.h"
#include "plugin/instance.h"
#include "settings/config_dialog.h"

namespace fake {

static bool timerRunning;
static HostWindow timerWindow;

bool TimerRunning(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return timerRunning;
}

HostWindow TimerWindow(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return timerWindow;
}

void ResetWindows(void) {
    timerRunning = false;
    timerWindow = nullptr;
}

}  // namespace fake

using namespace fake;

void StartStatusTimer(HostWindow window) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::StartStatusTimer, 0, window);
    timerRunning = true;
    timerWindow = window;
}

void StopStatusTimer(HostWindow window) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::StopStatusTimer, 0, window);
    if (window == timerWindow) timerRunning = false;
}

void EndConfigDialog(HostWindow dialog) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::EndConfigDialog, 0, dialog);
}

void XMP_STDCALL Config(void* inst, HostWindow owner) {
    (void)inst;
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::Config, 0, owner);
}

void XMP_STDCALL About(HostWindow owner) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::About, 0, owner);
}
