// The fake presence library: the four Discord_* functions, each recorded,
// every presence record deep-copied as it arrives.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fakes/fakes_internal.h"
#include "tools/common/call_gate.h"

namespace fake {

static RecordedPresence presences[PresenceCapacity];
static size_t presenceCount;
static RecordedInitialize lastInitialize;
static size_t initializeCount;
static size_t clearCount;
static size_t shutdownCount;
static PresenceObserver observer;
static void* observerContext;

static void CopySmallText(char* into, size_t capacity, bool& isNull, const char* text) {
    isNull = text == nullptr;
    into[0] = '\0';
    if (text) std::snprintf(into, capacity, "%s", text);
}

size_t PresenceCount(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return presenceCount;
}

const RecordedPresence& PresenceAt(size_t index) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    size_t kept = presenceCount < PresenceCapacity ? presenceCount : PresenceCapacity;
    if (index >= presenceCount || index < presenceCount - kept) {
        std::fprintf(stderr, "fake::PresenceAt(%zu): not among the records kept\n", index);
        std::abort();
    }
    return presences[index % PresenceCapacity];
}

const RecordedPresence& LastPresence(void) {
    size_t count = PresenceCount();
    if (count == 0) {
        std::fprintf(stderr, "fake::LastPresence: no presence was sent\n");
        std::abort();
    }
    return PresenceAt(count - 1);
}

void SetPresenceObserver(PresenceObserver newObserver, void* context) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    observer = newObserver;
    observerContext = context;
}

size_t InitializeCount(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return initializeCount;
}

const RecordedInitialize& LastInitialize(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    if (initializeCount == 0) {
        std::fprintf(stderr, "fake::LastInitialize: Discord_Initialize was never called\n");
        std::abort();
    }
    return lastInitialize;
}

size_t ClearCount(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return clearCount;
}

size_t ShutdownCount(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return shutdownCount;
}

static uint32_t GateKind(Call call) { return static_cast<uint32_t>(call); }

void HoldLibraryCalls(std::initializer_list<Call> calls) {
    uint32_t mask = 0;
    for (Call call : calls) mask |= 1u << GateKind(call);
    GateHold(mask);
}

void ReleaseHeldLibraryCalls(void) { GateReleaseHeld(); }

void StopHoldingLibraryCalls(void) { GateStopHolding(); }

bool WaitForHeldLibraryCalls(Call call, uint32_t count, uint32_t timeoutMs) {
    return GateWaitForHeld(GateKind(call), count, timeoutMs);
}

size_t MostCallersInsideLibrary(void) { return GateMostInside(); }

void ResetLibrary(void) {
    GateStopHolding();
    GateResetMost();
    presenceCount = 0;
    lastInitialize = RecordedInitialize{};
    initializeCount = 0;
    clearCount = 0;
    shutdownCount = 0;
    observer = nullptr;
    observerContext = nullptr;
}

// Each of the four functions records its call under the fakes' mutex, then
// waits in the gate while its kind is held, outside that mutex, so that the
// test and other threads can go on meanwhile.

static void RecordInitialize(const char* applicationId, DiscordEventHandlers* handlers, int autoRegister,
                             const char* optionalSteamId) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    RecordedInitialize& record = lastInitialize;
    record = RecordedInitialize{};
    record.sequence = AppendCall(Call::DiscordInitialize, static_cast<int64_t>(initializeCount), nullptr);
    CopySmallText(record.applicationId, sizeof record.applicationId, record.applicationIdNull, applicationId);
    record.handlersNull = handlers == nullptr;
    if (handlers) record.handlers = *handlers;
    record.autoRegister = autoRegister;
    CopySmallText(record.steamId, sizeof record.steamId, record.steamIdNull, optionalSteamId);
    initializeCount++;
}

static void RecordUpdate(const DiscordRichPresence* presence) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    RecordedPresence& record = presences[presenceCount % PresenceCapacity];
    AppendCall(Call::DiscordUpdatePresence, static_cast<int64_t>(presenceCount), presence);
    RecordPresence(&record, presence);
    presenceCount++;
    if (observer) observer(record, observerContext);
    StepClockForUpdate();
}

static void RecordClear(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::DiscordClearPresence, 0, nullptr);
    clearCount++;
    StepClockForUpdate();
}

static void RecordShutdown(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    AppendCall(Call::DiscordShutdown, 0, nullptr);
    shutdownCount++;
}

}  // namespace fake

using namespace fake;

extern "C" void DISCORD_CDECL Discord_Initialize(const char* applicationId, DiscordEventHandlers* handlers,
                                                 int autoRegister, const char* optionalSteamId) {
    GateEnter();
    RecordInitialize(applicationId, handlers, autoRegister, optionalSteamId);
    GateLeave(GateKind(Call::DiscordInitialize));
}

extern "C" void DISCORD_CDECL Discord_UpdatePresence(const DiscordRichPresence* presence) {
    GateEnter();
    RecordUpdate(presence);
    GateLeave(GateKind(Call::DiscordUpdatePresence));
}

extern "C" void DISCORD_CDECL Discord_ClearPresence(void) {
    GateEnter();
    RecordClear();
    GateLeave(GateKind(Call::DiscordClearPresence));
}

extern "C" void DISCORD_CDECL Discord_Shutdown(void) {
    GateEnter();
    RecordShutdown();
    GateLeave(GateKind(Call::DiscordShutdown));
}
