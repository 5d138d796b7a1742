// Read-back of the recording stand-in and of the player's log, queries over
// the sequence the two share, and waits with deadlines.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>

#include "harness/harness.h"

// How often a wait looks again.
static const DWORD PollMs = 10;

std::vector<RecordedCall> DiscordCalls(void) {
    std::vector<RecordedCall> calls;
    uint32_t count = Recorder_CallCount();
    calls.reserve(count);
    RecordedCall call;
    for (uint32_t index = 0; Recorder_ReadCall(index, &call) != 0; ++index) calls.push_back(call);
    return calls;
}

std::vector<RecordedCall> DiscordCallsBetween(uint32_t since, uint32_t until, int32_t kind) {
    std::vector<RecordedCall> selected;
    for (const RecordedCall& call : DiscordCalls())
        if (call.sequence > since && call.sequence < until && (kind == 0 || call.kind == kind))
            selected.push_back(call);
    return selected;
}

std::vector<RecordedCall> PresencesBetween(uint32_t since, uint32_t until) {
    return DiscordCallsBetween(since, until, RecordedUpdatePresence);
}

uint32_t Mark(void) { return NextSequence(); }

std::vector<PlayerCall> PlayerCallsBetween(uint32_t since, uint32_t until, PlayerCallKind kind) {
    std::vector<PlayerCall> selected;
    for (const PlayerCall& call : PlayerCalls())
        if (call.sequence > since && call.sequence < until && call.kind == kind) selected.push_back(call);
    return selected;
}

std::vector<PlayerCall> PluginToPlayerCallsBetween(uint32_t since, uint32_t until) {
    std::vector<PlayerCall> selected;
    for (const PlayerCall& call : PlayerCalls()) {
        if (call.sequence <= since || call.sequence >= until) continue;
        switch (call.kind) {
        case PlayerCallKind::Interface:
        case PlayerCallKind::GetVersion:
        case PlayerCallKind::GetWindow:
        case PlayerCallKind::FreeText:
        case PlayerCallKind::GetTag:
        case PlayerCallKind::IsPlaying:
        case PlayerCallKind::GetTime: selected.push_back(call); break;
        default: break;
        }
    }
    return selected;
}

std::string CallOrder(uint32_t since, uint32_t until) {
    std::map<uint32_t, std::string> names;
    for (const PlayerCall& call : PlayerCalls()) {
        if (call.sequence <= since || call.sequence >= until) continue;
        switch (call.kind) {
        case PlayerCallKind::GetTag:
            names[call.sequence] = "GetTag(" + std::to_string(call.number) + ")";
            break;
        case PlayerCallKind::FreeText:
            names[call.sequence] =
                call.handle == 0 ? std::string("Free(null)") : "Free(" + std::to_string(call.number) + ")";
            break;
        case PlayerCallKind::Interface:
            names[call.sequence] = "Interface(" + std::to_string(call.number) + ")";
            break;
        case PlayerCallKind::GetVersion:
        case PlayerCallKind::GetWindow:
        case PlayerCallKind::IsPlaying:
        case PlayerCallKind::GetTime:
        case PlayerCallKind::SetTimer:
        case PlayerCallKind::KillTimer:
        case PlayerCallKind::EndDialog:
        case PlayerCallKind::DialogBoxEnter:
        case PlayerCallKind::MessageBox: names[call.sequence] = PlayerCallKindName(call.kind); break;
        default: break;
        }
    }
    static const char* const discordNames[] = {"?", "Initialize", "Update", "Clear", "Shutdown"};
    for (const RecordedCall& call : DiscordCallsBetween(since, until))
        names[call.sequence] = discordNames[call.kind >= 1 && call.kind <= 4 ? call.kind : 0];
    std::string order;
    for (const auto& name : names) order += (order.empty() ? "" : " ") + name.second;
    return order;
}

std::vector<Tick> TicksBetween(uint32_t since, uint32_t until) {
    std::vector<Tick> ticks;
    std::optional<PlayerCall> open;
    for (const PlayerCall& call : PlayerCalls()) {
        if (call.kind == PlayerCallKind::TickStart) open = call;
        if (call.kind != PlayerCallKind::TickEnd || !open) continue;
        if (open->sequence > since && call.sequence < until)
            ticks.push_back(Tick{open->sequence, call.sequence, open->wallClockMs, open->threadId});
        open.reset();
    }
    return ticks;
}

std::vector<RecordedCall> PresencesIn(const Tick& tick) { return PresencesBetween(tick.start, tick.end); }

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) return condition();
        Sleep(PollMs);
    }
}

std::optional<RecordedCall> WaitForPresence(uint32_t since, int timeoutMs,
                                            const std::function<bool(const RecordedCall&)>& filter) {
    std::optional<RecordedCall> found;
    WaitUntil(
        [&] {
            for (const RecordedCall& call : PresencesBetween(since)) {
                if (!filter || filter(call)) {
                    found = call;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

std::optional<Tick> WaitForTicks(uint32_t since, int count, int timeoutMs) {
    std::optional<Tick> found;
    WaitUntil(
        [&] {
            std::vector<Tick> ticks = TicksBetween(since);
            if (static_cast<int>(ticks.size()) < count) return false;
            found = ticks[static_cast<size_t>(count - 1)];
            return true;
        },
        timeoutMs);
    return found;
}

std::optional<Tick> WaitForTick(uint32_t since, int timeoutMs) { return WaitForTicks(since, 1, timeoutMs); }

std::optional<Tick> TickContaining(uint32_t sequence, int timeoutMs) {
    std::optional<Tick> found;
    WaitUntil(
        [&] {
            for (const Tick& tick : TicksBetween(0))
                if (tick.start < sequence && sequence < tick.end) found = tick;
            return found.has_value();
        },
        timeoutMs);
    return found;
}

std::string Text(const RecordedText& text) {
    return text.isNull != 0 ? std::string("(null)") : std::string(text.text);
}

std::string Badge(const RecordedCall& call) { return Text(call.presence.smallImageKey); }

double SecondsLeft(const RecordedCall& call) {
    return static_cast<double>(call.presence.endTimestamp) - static_cast<double>(call.wallClockMs) / 1000.0;
}

double SecondsElapsed(const RecordedCall& call) {
    return static_cast<double>(call.wallClockMs) / 1000.0 - static_cast<double>(call.presence.startTimestamp);
}

// What a presence's clock was computed from: the whole seconds the plug-in's
// truncation of the position can give (the log shows the answer rounded to
// milliseconds) and the wall clock's whole seconds it can have read.
struct ClockInputs {
    int64_t fewestSeconds;
    int64_t mostSeconds;
    int64_t earliestNow;
    int64_t latestNow;
};

static bool FindClockInputs(const RecordedCall& call, ClockInputs* inputs) {
    std::vector<PlayerCall> answers = PlayerCallsBetween(0, call.sequence, PlayerCallKind::GetTime);
    for (auto answer = answers.rbegin(); answer != answers.rend(); ++answer) {
        if (answer->threadId != call.threadId) continue;
        const double logged = strtod(answer->text.c_str(), nullptr);
        inputs->fewestSeconds = static_cast<int64_t>(logged - 0.0005);
        inputs->mostSeconds = static_cast<int64_t>(logged + 0.0005);
        inputs->earliestNow = answer->wallClockMs / 1000;
        inputs->latestNow = call.wallClockMs / 1000;
        return true;
    }
    return false;
}

void ExpectRemainingClock(const RecordedCall& call, int64_t lengthSeconds) {
    ClockInputs inputs;
    ASSERT_TRUE(FindClockInputs(call, &inputs)) << "no position was asked for " << Describe(call);
    EXPECT_EQ(call.presence.startTimestamp, 0) << Describe(call);
    EXPECT_GE(call.presence.endTimestamp, inputs.earliestNow + lengthSeconds - inputs.mostSeconds)
        << Describe(call);
    EXPECT_LE(call.presence.endTimestamp, inputs.latestNow + lengthSeconds - inputs.fewestSeconds)
        << Describe(call);
}

void ExpectElapsedClock(const RecordedCall& call) {
    ClockInputs inputs;
    ASSERT_TRUE(FindClockInputs(call, &inputs)) << "no position was asked for " << Describe(call);
    EXPECT_EQ(call.presence.endTimestamp, 0) << Describe(call);
    EXPECT_GE(call.presence.startTimestamp, inputs.earliestNow - inputs.mostSeconds) << Describe(call);
    EXPECT_LE(call.presence.startTimestamp, inputs.latestNow - inputs.fewestSeconds) << Describe(call);
}

std::string Describe(const RecordedCall& call) {
    char line[1400];
    switch (call.kind) {
    case RecordedInitialize:
        snprintf(line, sizeof line, "Discord_Initialize(\"%s\", handlers%s, %d, %s)", call.applicationId.text,
                 call.handlersNull != 0 ? " null" : "", call.autoRegister, Text(call.steamId).c_str());
        break;
    case RecordedUpdatePresence: {
        const RecordedPresence& presence = call.presence;
        if (call.presenceNull != 0) {
            snprintf(line, sizeof line, "Discord_UpdatePresence(null)");
            break;
        }
        snprintf(
            line, sizeof line,
            "Discord_UpdatePresence(details \"%s\", state \"%s\", badge %s/%s, large %s/%s, start %" PRId64
            " (%+.1f s), end %" PRId64 " (%+.1f s), instance %d)",
            Text(presence.details).c_str(), Text(presence.state).c_str(),
            Text(presence.smallImageKey).c_str(), Text(presence.smallImageText).c_str(),
            Text(presence.largeImageKey).c_str(), Text(presence.largeImageText).c_str(),
            presence.startTimestamp, presence.startTimestamp != 0 ? -SecondsElapsed(call) : 0.0,
            presence.endTimestamp, presence.endTimestamp != 0 ? SecondsLeft(call) : 0.0, presence.instance);
        break;
    }
    case RecordedClearPresence: snprintf(line, sizeof line, "Discord_ClearPresence()"); break;
    case RecordedShutdown: snprintf(line, sizeof line, "Discord_Shutdown()"); break;
    default: snprintf(line, sizeof line, "unknown call %d", call.kind); break;
    }
    return line;
}

// Which of the player's threads a thread is, for the transcript.
static const char* ThreadName(DWORD threadId) {
    if (threadId == PlayerWindowThreadId()) return "window";
    if (threadId == PlayerAudioThreadId()) return "audio ";
    return "test  ";
}

static std::string DescribePlayerCall(const PlayerCall& call) {
    char line[1400];
    const char* name = PlayerCallKindName(call.kind);
    switch (call.kind) {
    case PlayerCallKind::GetTag:
        snprintf(line, sizeof line, "GetTag(%" PRId64 ") -> %s%s%s", call.number,
                 call.handle != 0 ? "\"" : "null", call.handle != 0 ? call.text.c_str() : "",
                 call.handle != 0 ? "\"" : "");
        break;
    case PlayerCallKind::FreeText:
        snprintf(line, sizeof line, "Free(%#" PRIxPTR ") tag %" PRId64, call.handle, call.number);
        break;
    case PlayerCallKind::SetTimer:
        snprintf(line, sizeof line, "SetTimer(%#" PRIxPTR ", %" PRId64 ", %" PRId64 ") -> %" PRId64,
                 call.handle, call.number, call.extra, call.result);
        break;
    case PlayerCallKind::KillTimer:
        snprintf(line, sizeof line, "KillTimer(%#" PRIxPTR ", %" PRId64 ") -> %" PRId64, call.handle,
                 call.number, call.result);
        break;
    case PlayerCallKind::SlotEnter:
        snprintf(line, sizeof line, "-> %s(%s)", call.text.c_str(), call.caption.c_str());
        break;
    case PlayerCallKind::SlotLeave:
        snprintf(line, sizeof line, "<- %s = %" PRId64, call.text.c_str(), call.result);
        break;
    case PlayerCallKind::Action:
        snprintf(line, sizeof line, "player: %s %s", call.text.c_str(), call.caption.c_str());
        break;
    case PlayerCallKind::MessageBox:
        snprintf(line, sizeof line, "MessageBoxA(\"%s\", \"%s\", %#" PRIx64 ")", call.text.c_str(),
                 call.caption.c_str(), call.extra);
        break;
    default:
        snprintf(line, sizeof line,
                 "%s number %" PRId64 " handle %#" PRIxPTR " extra %" PRId64 " result %" PRId64 " %s", name,
                 call.number, call.handle, call.extra, call.result, call.text.c_str());
        break;
    }
    return line;
}

std::string Transcript(void) {
    std::map<uint32_t, std::string> lines;
    int64_t origin = INT64_MAX;
    std::vector<PlayerCall> playerCalls = PlayerCalls();
    std::vector<RecordedCall> discordCalls = DiscordCalls();
    for (const PlayerCall& call : playerCalls) origin = std::min(origin, call.wallClockMs);
    for (const RecordedCall& call : discordCalls) origin = std::min(origin, call.wallClockMs);
    char prefix[64];
    for (const PlayerCall& call : playerCalls) {
        snprintf(prefix, sizeof prefix, "%6u %7.3f %s  ", call.sequence,
                 static_cast<double>(call.wallClockMs - origin) / 1000.0, ThreadName(call.threadId));
        lines[call.sequence] = prefix + DescribePlayerCall(call);
    }
    for (const RecordedCall& call : discordCalls) {
        snprintf(prefix, sizeof prefix, "%6u %7.3f %s  ", call.sequence,
                 static_cast<double>(call.wallClockMs - origin) / 1000.0, ThreadName(call.threadId));
        lines[call.sequence] = prefix + Describe(call);
    }
    std::string transcript = "   seq    time thread  call\n";
    for (const auto& line : lines) transcript += line.second + "\n";
    return transcript;
}
