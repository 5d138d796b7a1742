// The recording stand-in of discord-rpc.dll: besides the library's four
// functions it exports these, through which a test or the demo reads back
// every call it received. Each call is a full copy of what the caller passed
// (no pointer of the caller is kept), stamped with a sequence number shared
// with the stand-in player's call log and with the wall clock.
#pragma once

#include <cstdint>

#include "presence/discord_rpc.h"
#include "tools/common/recorded_presence.h"

enum RecordedCallKind : int32_t {
    RecordedInitialize = 1,
    RecordedUpdatePresence = 2,
    RecordedClearPresence = 3,
    RecordedShutdown = 4,
};

// Number of callbacks in DiscordEventHandlers.
enum : uint32_t { RecordedHandlerCount = 6 };

// One call into the library.
struct RecordedCall {
    uint32_t sequence;    // shared with the stand-in player's log
    int64_t wallClockMs;  // arrival, milliseconds since 1970-01-01 UTC
    uint32_t threadId;    // the calling thread
    int32_t kind;         // RecordedCallKind
    // Discord_Initialize
    RecordedText applicationId;
    int32_t handlersNull;  // the handlers record was null
    uintptr_t
        handlers[RecordedHandlerCount];  // ready, disconnected, errored, joinGame, spectateGame, joinRequest
    int32_t autoRegister;
    RecordedText steamId;
    // Discord_UpdatePresence
    int32_t presenceNull;  // the record pointer was null
    RecordedPresence presence;
};

// Called after each call has been recorded, on the caller's thread, with the
// recorder's lock released.
typedef void(DISCORD_CDECL* RecorderHook)(const RecordedCall* call, void* context);

extern "C" {

// The next number of the sequence shared by the library calls and the player's log.
uint32_t DISCORD_CDECL Recorder_NextSequence(void);

// Number of calls recorded since the last clear.
uint32_t DISCORD_CDECL Recorder_CallCount(void);

// Copies call number index (0 = oldest) to out; 0 when there is no such call.
int32_t DISCORD_CDECL Recorder_ReadCall(uint32_t index, RecordedCall* out);

// Forgets every recorded call, and starts counting the most callers inside
// at once afresh; the sequence goes on.
void DISCORD_CDECL Recorder_Clear(void);

// Non-zero: print every call as a person would see the profile (the demo).
void DISCORD_CDECL Recorder_SetPrintMode(int32_t on);

// Installs (or, with null, removes) the hook called after each call.
void DISCORD_CDECL Recorder_SetHook(RecorderHook hook, void* context);

// Holding callers inside the library: from now on a call of a kind in
// kindMask (bit k for RecordedCallKind k) waits inside the library, already
// recorded and its hook run, until released.
void DISCORD_CDECL Recorder_HoldCalls(uint32_t kindMask);

// Lets the callers held now go on; later calls of a held kind wait again.
void DISCORD_CDECL Recorder_ReleaseHeld(void);

// Lets every held caller go and holds no more.
void DISCORD_CDECL Recorder_StopHolding(void);

// Waits up to timeoutMs until at least count calls of the kind are held;
// non-zero when they are.
int32_t DISCORD_CDECL Recorder_WaitForHeld(int32_t kind, uint32_t count, uint32_t timeoutMs);

// The most callers that were inside the library's four functions at once
// since the last clear.
uint32_t DISCORD_CDECL Recorder_MostInsideAtOnce(void);

}  // extern "C"
