// The stand-in player's log: every call the plug-in makes and every step the
// player takes, numbered from the sequence shared with the recording
// stand-in of discord-rpc.dll, and the errors the player has found.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <mutex>

#include "tools/standin_player/player_internal.h"

typedef uint32_t(__attribute__((cdecl)) * SequenceFunction)(void);

static std::mutex logLock;
static std::vector<PlayerCall> calls;
static std::vector<std::string> errors;
static std::atomic<SequenceFunction> sharedSequence;
static std::atomic<uint32_t> ownSequence;

void BindSharedSequence(void) {
    HMODULE recorder = GetModuleHandleA("discord-rpc.dll");
    if (recorder == nullptr) return;
    FARPROC next = GetProcAddress(recorder, "Recorder_NextSequence");
    if (next != nullptr) sharedSequence = FunctionCast<SequenceFunction>(next);
}

uint32_t NextSequence(void) {
    SequenceFunction shared = sharedSequence;
    if (shared != nullptr) return shared();
    return ++ownSequence;
}

uint32_t LogPlayerCall(PlayerCallKind kind, int64_t number, uintptr_t handle, int64_t extra, int64_t result,
                       const std::string& text, const std::string& caption) {
    PlayerCall call;
    call.wallClockMs = WallClockMs();
    call.threadId = GetCurrentThreadId();
    call.kind = kind;
    call.number = number;
    call.handle = handle;
    call.extra = extra;
    call.result = result;
    call.text = text;
    call.caption = caption;
    // The number is drawn under the lock so that the log stays in sequence order.
    std::lock_guard<std::mutex> hold(logLock);
    call.sequence = NextSequence();
    calls.push_back(call);
    return call.sequence;
}

void ResetPlayerLog(void) {
    std::lock_guard<std::mutex> hold(logLock);
    calls.clear();
    errors.clear();
}

std::vector<PlayerCall> PlayerCalls(void) {
    std::lock_guard<std::mutex> hold(logLock);
    return calls;
}

void ForgetPlayerCallsBefore(uint32_t sequence) {
    std::lock_guard<std::mutex> hold(logLock);
    size_t kept = 0;
    while (kept < calls.size() && calls[kept].sequence < sequence) ++kept;
    calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(kept));
}

std::vector<std::string> PlayerErrors(void) {
    std::lock_guard<std::mutex> hold(logLock);
    return errors;
}

void ReportPlayerError(const std::string& error) {
    {
        std::lock_guard<std::mutex> hold(logLock);
        errors.push_back(error);
    }
    fprintf(stderr, "stand-in player: %s\n", error.c_str());
    fflush(stderr);
}

const char* PlayerCallKindName(PlayerCallKind kind) {
    switch (kind) {
    case PlayerCallKind::Interface: return "Interface";
    case PlayerCallKind::GetVersion: return "GetVersion";
    case PlayerCallKind::GetWindow: return "GetWindow";
    case PlayerCallKind::FreeText: return "Free";
    case PlayerCallKind::GetTag: return "GetTag";
    case PlayerCallKind::IsPlaying: return "IsPlaying";
    case PlayerCallKind::GetTime: return "GetTime";
    case PlayerCallKind::SetTimer: return "SetTimer";
    case PlayerCallKind::KillTimer: return "KillTimer";
    case PlayerCallKind::TickStart: return "TickStart";
    case PlayerCallKind::TickEnd: return "TickEnd";
    case PlayerCallKind::DialogBoxEnter: return "DialogBoxParamA";
    case PlayerCallKind::DialogBoxLeave: return "DialogBoxParamA returned";
    case PlayerCallKind::EndDialog: return "EndDialog";
    case PlayerCallKind::MessageBox: return "MessageBoxA";
    case PlayerCallKind::MessageBoxLeave: return "MessageBoxA returned";
    case PlayerCallKind::SlotEnter: return "slot";
    case PlayerCallKind::SlotLeave: return "slot returned";
    case PlayerCallKind::Action: return "player";
    }
    return "?";
}
