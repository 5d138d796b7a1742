// The recording stand-in of discord-rpc.dll. It exports the library's four
// functions and Discord_RunCallbacks with the library's ABI, copies every
// field of every call it receives, and lets a test or the demo read the
// calls back. Asked to by the environment, it also speaks to Discord's
// pipe as the library does (discord_speaker.h). Calls may come
// from several threads at once; one lock guards the recording. A gate
// (tools/common/call_gate.h) can hold callers inside and counts them.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/common/call_gate.h"
#include "tools/common/wall_clock_ms.h"
#include "tools/discord_standin/discord_recorder.h"
#include "tools/discord_standin/discord_speaker.h"
#include "tools/discord_standin/presence_printer.h"

static SRWLOCK recorderLock = SRWLOCK_INIT;
static std::vector<RecordedCall>* recordedCalls;  // created on first use, under the lock
static volatile LONG sequenceCounter;
static volatile LONG printMode;
static RecorderHook hook;
static void* hookContext;

// Counts a caller in at its entry into the library and starts a record of
// the given kind, stamped now.
static void BeginCall(RecordedCall* call, RecordedCallKind kind) {
    GateEnter();
    memset(call, 0, sizeof *call);
    call->sequence = Recorder_NextSequence();
    call->wallClockMs = WallClockMs();
    call->threadId = GetCurrentThreadId();
    call->kind = kind;
}

// When the environment names a file in NOWGLOW_RECORDER_LOG, appends a line
// for the call to it: a program that loads the stand-in on its own (the
// check of nowglow-appid.exe) is read back through that file.
static void LogCall(const RecordedCall* call) {
    char path[1024];
    const DWORD length = GetEnvironmentVariableA("NOWGLOW_RECORDER_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    char line[1024];
    int size = 0;
    switch (call->kind) {
    case RecordedInitialize:
        size = snprintf(line, sizeof line, "Initialize id=%s autoRegister=%d\r\n", call->applicationId.text,
                        call->autoRegister);
        break;
    case RecordedUpdatePresence:
        size = snprintf(line, sizeof line, "Update details=%s state=%s large=%s small=%s end=%lld\r\n",
                        call->presence.details.text, call->presence.state.text,
                        call->presence.largeImageKey.text, call->presence.smallImageKey.text,
                        static_cast<long long>(call->presence.endTimestamp));
        break;
    case RecordedClearPresence: size = snprintf(line, sizeof line, "Clear\r\n"); break;
    case RecordedShutdown: size = snprintf(line, sizeof line, "Shutdown\r\n"); break;
    default: return;
    }
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD put = 0;
    if (size > 0) WriteFile(file, line, static_cast<DWORD>(size), &put, nullptr);
    CloseHandle(file);
}

// Stores the call, prints it in print mode, runs the hook unlocked, and lets
// the caller leave the library once the gate lets it.
static void FinishCall(const RecordedCall* call) {
    AcquireSRWLockExclusive(&recorderLock);
    if (recordedCalls == nullptr) recordedCalls = new std::vector<RecordedCall>();
    recordedCalls->push_back(*call);
    if (printMode != 0) PrintRecordedCall(call);
    LogCall(call);
    RecorderHook currentHook = hook;
    void* currentContext = hookContext;
    ReleaseSRWLockExclusive(&recorderLock);
    if (currentHook != nullptr) currentHook(call, currentContext);
    GateLeave(static_cast<uint32_t>(call->kind));
}

extern "C" {

void DISCORD_CDECL Discord_Initialize(const char* applicationId, DiscordEventHandlers* handlers,
                                      int autoRegister, const char* optionalSteamId) {
    RecordedCall call;
    BeginCall(&call, RecordedInitialize);
    RecordText(&call.applicationId, applicationId);
    call.handlersNull = handlers == nullptr ? 1 : 0;
    if (handlers != nullptr) {
        call.handlers[0] = reinterpret_cast<uintptr_t>(handlers->ready);
        call.handlers[1] = reinterpret_cast<uintptr_t>(handlers->disconnected);
        call.handlers[2] = reinterpret_cast<uintptr_t>(handlers->errored);
        call.handlers[3] = reinterpret_cast<uintptr_t>(handlers->joinGame);
        call.handlers[4] = reinterpret_cast<uintptr_t>(handlers->spectateGame);
        call.handlers[5] = reinterpret_cast<uintptr_t>(handlers->joinRequest);
    }
    call.autoRegister = autoRegister;
    RecordText(&call.steamId, optionalSteamId);
    FinishCall(&call);
    if (SpeakerWanted()) SpeakerInitialize(applicationId, handlers);
}

void DISCORD_CDECL Discord_UpdatePresence(const DiscordRichPresence* presence) {
    RecordedCall call;
    BeginCall(&call, RecordedUpdatePresence);
    call.presenceNull = presence == nullptr ? 1 : 0;
    if (presence != nullptr) RecordPresence(&call.presence, presence);
    FinishCall(&call);
    SpeakerUpdate(presence);
}

void DISCORD_CDECL Discord_ClearPresence(void) {
    RecordedCall call;
    BeginCall(&call, RecordedClearPresence);
    FinishCall(&call);
    SpeakerUpdate(nullptr);
}

void DISCORD_CDECL Discord_Shutdown(void) {
    RecordedCall call;
    BeginCall(&call, RecordedShutdown);
    FinishCall(&call);
    SpeakerShutdown();
}

// Not recorded: a program that hears the library's events calls it many
// times a second.
void DISCORD_CDECL Discord_RunCallbacks(void) { SpeakerRunCallbacks(); }

uint32_t DISCORD_CDECL Recorder_NextSequence(void) {
    return static_cast<uint32_t>(InterlockedIncrement(&sequenceCounter));
}

uint32_t DISCORD_CDECL Recorder_CallCount(void) {
    AcquireSRWLockShared(&recorderLock);
    size_t count = recordedCalls == nullptr ? 0 : recordedCalls->size();
    ReleaseSRWLockShared(&recorderLock);
    return static_cast<uint32_t>(count);
}

int32_t DISCORD_CDECL Recorder_ReadCall(uint32_t index, RecordedCall* out) {
    int32_t found = 0;
    AcquireSRWLockShared(&recorderLock);
    if (recordedCalls != nullptr && index < recordedCalls->size()) {
        *out = (*recordedCalls)[index];
        found = 1;
    }
    ReleaseSRWLockShared(&recorderLock);
    return found;
}

void DISCORD_CDECL Recorder_Clear(void) {
    AcquireSRWLockExclusive(&recorderLock);
    if (recordedCalls != nullptr) recordedCalls->clear();
    ReleaseSRWLockExclusive(&recorderLock);
    GateResetMost();
}

void DISCORD_CDECL Recorder_SetPrintMode(int32_t on) { InterlockedExchange(&printMode, on != 0 ? 1 : 0); }

void DISCORD_CDECL Recorder_SetHook(RecorderHook newHook, void* context) {
    AcquireSRWLockExclusive(&recorderLock);
    hook = newHook;
    hookContext = context;
    ReleaseSRWLockExclusive(&recorderLock);
}

void DISCORD_CDECL Recorder_HoldCalls(uint32_t kindMask) { GateHold(kindMask); }

void DISCORD_CDECL Recorder_ReleaseHeld(void) { GateReleaseHeld(); }

void DISCORD_CDECL Recorder_StopHolding(void) { GateStopHolding(); }

int32_t DISCORD_CDECL Recorder_WaitForHeld(int32_t kind, uint32_t count, uint32_t timeoutMs) {
    return GateWaitForHeld(static_cast<uint32_t>(kind), count, timeoutMs) ? 1 : 0;
}

uint32_t DISCORD_CDECL Recorder_MostInsideAtOnce(void) { return GateMostInside(); }

}  // extern "C"
