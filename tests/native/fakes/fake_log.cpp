// The call log every fake appends to, and its renderings for the tests.
#include <cstdio>
#include <cstdlib>

#include "fakes/fakes_internal.h"

namespace fake {

static LoggedCall loggedCalls[LogCapacity];
static size_t loggedCount;
static bool overflowed;
static uint64_t nextSequence;

std::mutex& FakeMutex(void) {
    static std::mutex mutex;
    return mutex;
}

uint64_t AppendCall(Call call, int64_t number, const void* pointer) {
    uint64_t sequence = nextSequence++;
    if (loggedCount < LogCapacity) {
        loggedCalls[loggedCount++] = LoggedCall{sequence, call, number, pointer};
    } else {
        overflowed = true;
    }
    return sequence;
}

void ResetLog(void) {
    loggedCount = 0;
    overflowed = false;
    nextSequence = 0;
}

size_t CallCount(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return loggedCount;
}

LoggedCall CallAt(size_t index) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    if (index >= loggedCount) {
        std::fprintf(stderr, "fake::CallAt(%zu) beyond the %zu calls kept\n", index, loggedCount);
        std::abort();
    }
    return loggedCalls[index];
}

bool LogOverflowed(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    return overflowed;
}

void ClearCalls(void) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    loggedCount = 0;
    overflowed = false;
}

static bool IsPlayerCall(Call call) {
    switch (call) {
    case Call::GetVersion:
    case Call::GetWindow:
    case Call::GetTag:
    case Call::FreeText:
    case Call::IsPlaying:
    case Call::GetTime: return true;
    default: return false;
    }
}

static std::string FreeName(int64_t number) {
    switch (number) {
    case FreedNull: return "Free(null)";
    case FreedForeign: return "Free(foreign)";
    case FreedTwice: return "Free(twice)";
    default: return "Free(" + std::to_string(number) + ")";
    }
}

static std::string CallName(const LoggedCall& logged) {
    switch (logged.call) {
    case Call::InterfaceRequest: return "Interface(" + std::to_string(logged.number) + ")";
    case Call::GetVersion: return "GetVersion";
    case Call::GetWindow: return "GetWindow";
    case Call::GetTag: return "GetTag(" + std::to_string(logged.number) + ")";
    case Call::FreeText: return FreeName(logged.number);
    case Call::IsPlaying: return "IsPlaying";
    case Call::GetTime: return "GetTime";
    case Call::DiscordInitialize: return "Discord_Initialize";
    case Call::DiscordUpdatePresence: return "Discord_UpdatePresence";
    case Call::DiscordClearPresence: return "Discord_ClearPresence";
    case Call::DiscordShutdown: return "Discord_Shutdown";
    case Call::StartStatusTimer: return "StartStatusTimer";
    case Call::StopStatusTimer: return "StopStatusTimer";
    case Call::EndConfigDialog: return "EndConfigDialog";
    case Call::Config: return "Config";
    case Call::About: return "About";
    }
    return "?";
}

static std::vector<std::string> Names(bool playerOnly) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    std::vector<std::string> names;
    for (size_t i = 0; i < loggedCount; i++) {
        if (playerOnly && !IsPlayerCall(loggedCalls[i].call)) continue;
        names.push_back(CallName(loggedCalls[i]));
    }
    return names;
}

std::vector<std::string> CallNames(void) { return Names(false); }

std::vector<std::string> PlayerCallNames(void) { return Names(true); }

size_t CountCalls(Call call) {
    std::lock_guard<std::mutex> hold(FakeMutex());
    size_t count = 0;
    for (size_t i = 0; i < loggedCount; i++) {
        if (loggedCalls[i].call == call) count++;
    }
    return count;
}

}  // namespace fake
