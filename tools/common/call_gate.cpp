// The gate inside a stand-in library: one mutex over its counts, and one
// condition on which held callers wait and waiting tests are woken.
#include "tools/common/call_gate.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

enum : uint32_t { KindCount = 32 };

// A test that holds a caller lets it go within seconds; one held this long
// was forgotten, and is let go with a line that says so.
static const std::chrono::seconds LongestHold(60);

static std::mutex gateMutex;
static std::condition_variable gateWake;
static uint32_t heldKinds;           // bit k: callers of kind k are held
static uint64_t releases;            // GateReleaseHeld calls; a held caller waits for the next
static uint32_t heldNow[KindCount];  // callers held, by kind
static uint32_t inside;              // callers between GateEnter and the end of GateLeave
static uint32_t mostInside;          // the most of them at once since the last reset

static bool IsHeldKind(uint32_t kind) { return kind < KindCount && (heldKinds & (1u << kind)) != 0; }

void GateEnter(void) {
    std::lock_guard<std::mutex> hold(gateMutex);
    inside++;
    if (inside > mostInside) mostInside = inside;
}

void GateLeave(uint32_t kind) {
    std::unique_lock<std::mutex> hold(gateMutex);
    if (IsHeldKind(kind)) {
        const uint64_t heldAt = releases;
        heldNow[kind]++;
        gateWake.notify_all();
        if (!gateWake.wait_for(hold, LongestHold,
                               [kind, heldAt] { return releases != heldAt || !IsHeldKind(kind); })) {
            std::fprintf(
                stderr,
                "call gate: a caller of kind %u held for %lld s was let go: the test never released it\n",
                static_cast<unsigned>(kind), static_cast<long long>(LongestHold.count()));
            std::fflush(stderr);
        }
        heldNow[kind]--;
    }
    inside--;
}

void GateHold(uint32_t kindMask) {
    std::lock_guard<std::mutex> hold(gateMutex);
    heldKinds |= kindMask;
}

void GateReleaseHeld(void) {
    {
        std::lock_guard<std::mutex> hold(gateMutex);
        releases++;
    }
    gateWake.notify_all();
}

void GateStopHolding(void) {
    {
        std::lock_guard<std::mutex> hold(gateMutex);
        heldKinds = 0;
        releases++;
    }
    gateWake.notify_all();
}

bool GateWaitForHeld(uint32_t kind, uint32_t count, uint32_t timeoutMs) {
    if (kind >= KindCount) return false;
    std::unique_lock<std::mutex> hold(gateMutex);
    return gateWake.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                             [kind, count] { return heldNow[kind] >= count; });
}

uint32_t GateMostInside(void) {
    std::lock_guard<std::mutex> hold(gateMutex);
    return mostInside;
}

void GateResetMost(void) {
    std::lock_guard<std::mutex> hold(gateMutex);
    mostInside = inside;
}
