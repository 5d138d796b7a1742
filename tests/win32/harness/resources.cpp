// Counts of what the process holds (kernel handles, GDI objects, USER
// objects), for leak checks over many cycles. Where Windows' own counters
// answer they are used; Wine 8 answers 0 from GetProcessHandleCount and
// GetGuiResources, so under Wine the counts come from what Wine does
// implement.
#include "harness/harness.h"

// How many handle values past the highest open one are tried before the
// count stops: Wine hands out the lowest free handle value first, so the
// open handles lie close together and a run this long holds none.
static const uintptr_t HandleProbeGap = 1024;

// The process's open kernel handles, counted by asking about each handle
// value of its own table in turn. Only the process's own table is read: the
// system-wide handle list (NtQuerySystemInformation) makes Wine 8's server
// walk every process's table, and now and then, with other programs starting
// and ending beside it, it crashes there and takes every Wine program of the
// prefix with it.
static uint32_t CountHandlesByProbing(void) {
    uint32_t open = 0;
    uintptr_t lastOpen = 0;
    for (uintptr_t value = 4; value - lastOpen <= HandleProbeGap * 4; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) == FALSE) continue;
        ++open;
        lastOpen = value;
    }
    return open;
}

uint32_t ProcessHandleCount(void) {
    DWORD count = 0;
    // A live process always holds handles, so 0 means the call is not implemented.
    if (GetProcessHandleCount(GetCurrentProcess(), &count) != FALSE && count != 0) return count;
    return CountHandlesByProbing();
}

uint32_t GdiObjectCount(void) {
    DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (count != 0) return count;
    // Wine keeps the process's GDI objects in a table of at most 65536
    // entries and accepts an object's index alone, without its generation
    // bits, as its handle; a live entry answers its type.
    uint32_t live = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) ++live;
    return live;
}

static BOOL CALLBACK CountChild(HWND, LPARAM context) {
    ++*reinterpret_cast<uint32_t*>(context);
    return TRUE;
}

static BOOL CALLBACK CountOwnWindow(HWND window, LPARAM context) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != GetCurrentProcessId()) return TRUE;
    ++*reinterpret_cast<uint32_t*>(context);
    EnumChildWindows(window, CountChild, context);
    return TRUE;
}

uint32_t UserObjectCount(void) {
    DWORD count = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (count != 0) return count;
    // Windows are the USER objects a dialog makes: the dialog and its controls.
    uint32_t windows = 0;
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}
