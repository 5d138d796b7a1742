// Counts of what the process holds (kernel handles, GDI objects, USER
// objects), for leak checks over many cycles. Where Windows' own counters
// answer they are used; Wine 8 answers 0 from GetProcessHandleCount and
// GetGuiResources, so under Wine the counts come from what Wine does
// implement.
#include <cstring>
#include <vector>

#include "harness/harness.h"

// NtQuerySystemInformation's class for the system-wide handle table.
static const ULONG SystemHandleInformationClass = 16;
static const LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// One entry of the system's handle table as ntdll lays it out for 32-bit
// programs (the owner is a whole process identifier in Wine's layout).
struct HandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT handleValue;
    PVOID object;
    ULONG access;
};

typedef LONG(WINAPI* QuerySystemInformationFunction)(ULONG infoClass, PVOID buffer, ULONG size,
                                                     PULONG needed);

// The process's entries in the system's handle table, or 0 when it cannot be read.
static uint32_t CountHandlesInSystemTable(void) {
    FARPROC found = GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    if (found == nullptr) return 0;
    QuerySystemInformationFunction query =
        reinterpret_cast<QuerySystemInformationFunction>(reinterpret_cast<void (*)(void)>(found));
    std::vector<BYTE> table(256 * 1024);
    ULONG needed = 0;
    LONG status;
    while ((status = query(SystemHandleInformationClass, table.data(), static_cast<ULONG>(table.size()),
                           &needed)) == StatusInfoLengthMismatch)
        table.resize(table.size() * 2);
    if (status != 0) return 0;
    ULONG count;
    memcpy(&count, table.data(), sizeof count);
    const HandleEntry* entries = reinterpret_cast<const HandleEntry*>(table.data() + sizeof(PVOID));
    const DWORD self = GetCurrentProcessId();
    uint32_t owned = 0;
    for (ULONG index = 0; index < count; ++index)
        if (entries[index].ownerProcessId == self) ++owned;
    return owned;
}

uint32_t ProcessHandleCount(void) {
    DWORD count = 0;
    // A live process always holds handles, so 0 means the call is not implemented.
    if (GetProcessHandleCount(GetCurrentProcess(), &count) != FALSE && count != 0) return count;
    return CountHandlesInSystemTable();
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
