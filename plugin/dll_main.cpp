// The module entry: remembers the module handle and turns off the per-thread
// attach and detach calls. It releases nothing at detach: the connection and
// the timer belong to the instance and end with Free.
#include <windows.h>

#include "plugin/plugin_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
