// The player's plug-in interface, as this plug-in uses it: the interface
// getter, the player's miscellaneous and status function tables, and the
// descriptor table the player calls through. Every function on both sides
// uses the Windows standard calling convention (the callee pops).
//
// Window and module handles are declared as the same incomplete structures
// the Windows headers use, so the Windows-facing files can pass an HWND or
// HINSTANCE straight through while the portable code never sees windows.h.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__)
#define XMP_STDCALL __attribute__((stdcall))
#else
#define XMP_STDCALL
#endif

struct HWND__;       // NOLINT(bugprone-reserved-identifier): the Windows headers' tag for HWND
struct HINSTANCE__;  // NOLINT(bugprone-reserved-identifier): the Windows headers' tag for HINSTANCE
typedef HWND__* HostWindow;
typedef HINSTANCE__* ModuleHandle;

// The player's sample-format record; the plug-in never reads it.
struct XMPFORMAT;

// Tag numbers understood by the player's GetTag.
enum : int32_t {
    TagFormattedTitle = -1,
    TagItemTitle = -3,  // what plays inside the item: a stream's song, a CUE sheet's part
    TagLengthSeconds = -4,
    TagAlbum = 2,
    TagDate = 3,
    TagFileType = 7,
};

// Interface numbers handed to the player's InterfaceProc.
enum : uint32_t {
    InterfaceMisc = 0,
    InterfaceStatus = 4,
};

typedef void*(XMP_STDCALL* InterfaceProc)(uint32_t face);

// Miscellaneous functions (interface 0). Only the slots the plug-in calls are
// named; the others keep their place as padding.
struct XMPFUNC_MISC {
    uint32_t(XMP_STDCALL* GetVersion)(void);   // slot 0: four 8-bit fields, most significant first
    HostWindow(XMP_STDCALL* GetWindow)(void);  // slot 1: the player's main window
    void* unusedSlots2to3[2];
    void(XMP_STDCALL* Free)(void* text);  // slot 4: releases a GetTag text, null accepted
    void* unusedSlots5to11[7];
    char*(XMP_STDCALL* GetTag)(int32_t tag);  // slot 12: caller releases the text; null when missing
};

// Playback-status functions (interface 4).
struct XMPFUNC_STATUS {
    // slot 0: non-zero while a track plays or is paused, 0 when none does;
    // the monitor tells paused from playing by the flow of Process calls.
    int32_t(XMP_STDCALL* IsPlaying)(void);
    double(XMP_STDCALL* GetTime)(void);  // slot 1: position in seconds
};

// The descriptor table handed to the player; the instance argument of every
// slot is whatever New returned, and this plug-in ignores it.
struct XMPDSP {
    uint32_t flags;
    const char* name;
    void(XMP_STDCALL* About)(HostWindow owner);
    void*(XMP_STDCALL* New)(void);
    void(XMP_STDCALL* Free)(void* inst);
    const char*(XMP_STDCALL* GetDescription)(void* inst);
    void(XMP_STDCALL* Config)(void* inst, HostWindow owner);
    uint32_t(XMP_STDCALL* GetConfig)(void* inst, void* config);
    int32_t(XMP_STDCALL* SetConfig)(void* inst, const void* config, uint32_t size);
    void(XMP_STDCALL* NewTrack)(void* inst, const char* file);
    void(XMP_STDCALL* SetFormat)(void* inst, const XMPFORMAT* form);
    void(XMP_STDCALL* Reset)(void* inst);
    uint32_t(XMP_STDCALL* Process)(void* inst, float* data, uint32_t count);
    void(XMP_STDCALL* NewTitle)(void* inst, const char* title);
};

// The player reads these tables by slot position, so their layout in the
// 32-bit build is fixed.
#if defined(__i386__)
static_assert(offsetof(XMPFUNC_MISC, GetVersion) == 0, "misc slot 0");
static_assert(offsetof(XMPFUNC_MISC, GetWindow) == 4, "misc slot 1");
static_assert(offsetof(XMPFUNC_MISC, Free) == 16, "misc slot 4");
static_assert(offsetof(XMPFUNC_MISC, GetTag) == 48, "misc slot 12");
static_assert(offsetof(XMPFUNC_STATUS, IsPlaying) == 0, "status slot 0");
static_assert(offsetof(XMPFUNC_STATUS, GetTime) == 4, "status slot 1");
static_assert(offsetof(XMPDSP, flags) == 0, "descriptor field 1");
static_assert(offsetof(XMPDSP, name) == 4, "descriptor field 2");
static_assert(offsetof(XMPDSP, About) == 8, "descriptor field 3");
static_assert(offsetof(XMPDSP, New) == 12, "descriptor field 4");
static_assert(offsetof(XMPDSP, Free) == 16, "descriptor field 5");
static_assert(offsetof(XMPDSP, GetDescription) == 20, "descriptor field 6");
static_assert(offsetof(XMPDSP, Config) == 24, "descriptor field 7");
static_assert(offsetof(XMPDSP, GetConfig) == 28, "descriptor field 8");
static_assert(offsetof(XMPDSP, SetConfig) == 32, "descriptor field 9");
static_assert(offsetof(XMPDSP, NewTrack) == 36, "descriptor field 10");
static_assert(offsetof(XMPDSP, SetFormat) == 40, "descriptor field 11");
static_assert(offsetof(XMPDSP, Reset) == 44, "descriptor field 12");
static_assert(offsetof(XMPDSP, Process) == 48, "descriptor field 13");
static_assert(offsetof(XMPDSP, NewTitle) == 52, "descriptor field 14");
static_assert(sizeof(XMPDSP) == 56, "descriptor size");
#endif
