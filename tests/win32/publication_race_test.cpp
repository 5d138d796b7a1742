// The player's notifications from its audio thread against the timer's
// publications on its window thread, for a minute, with a new track every
// 100 ms: nothing crashes or hangs, every opened track publishes and no
// notification more than once, and every presence the library receives
// carries both lines of one track. The
// player answers slowly on its window thread and gives each tick one view
// of the track, so that the audio thread keeps publishing later tracks
// while each tick composes and publishes its own. Each track is left
// paused: the opening shows it playing, so the next tick publishes it
// paused.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "harness/harness.h"

// The run lasts a minute, and longer, up to LongestRunMs, until it has seen
// the ticks it needs below: a busy machine slows the run, never fails it.
static const DWORD RunMs = 60000;
static const DWORD LongestRunMs = 3 * RunMs;
static const DWORD TrackEveryMs = 100;
// A run that completes no notification, or no tick, for this long has hung.
static const DWORD WatchdogMs = 10000;
// A pair of notifications every few milliseconds: a dozen publications in
// the 30 ms during which a tick's composed lines wait to be published.
static const DWORD PaceMs = 5;
// The log is forgotten this often; the last stretch stays for a failure's transcript.
static const DWORD ForgetEveryMs = 1000;
// Ticks that must have published: each tick that comes a track change
// after the previous one publishes the track paused (some 30 in a minute).
static const uint32_t MinimumTickPublications = 20;
// The player takes this long over each call it answers on the window
// thread: a republishing tick makes 15 calls, so it runs for some 150 ms,
// and its lines wait some 30 ms between their composition and their
// publication while the player releases the tags.
static const DWORD WindowThreadAnswerDelayMs = 10;
// Ticks that must have published while the audio thread had already
// published a later track than the one the tick composed. A track changes
// every 100 ms and a tick publishes some 140 ms after it began, so nearly
// every tick is overtaken.
static const uint32_t MinimumOvertakenTicks = 15;

static const char TrackFile[] = "C:\\Music\\numbered.mp3";

// Track n: "Title n", "Album n" of 2009, and a length 10 s longer than the
// previous track's.
static StandinTrack NumberedTrack(uint32_t number) {
    std::string title = "Title " + std::to_string(number);
    std::string album = "Album " + std::to_string(number);
    StandinTrack track = FullTrack(title.c_str(), album.c_str(), "2009");
    track.length = std::to_string(1000 + 10 * number);
    return track;
}

// The number of the track whose two lines a presence carries; false when
// the lines do not name one and the same numbered track.
static bool TrackOf(const RecordedPresence& presence, uint32_t* number) {
    const char prefix[] = "Title ";
    std::string details = Text(presence.details);
    if (details.compare(0, sizeof prefix - 1, prefix) != 0) return false;
    std::string digits = details.substr(sizeof prefix - 1);
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (Text(presence.state) != "Album " + digits + " (2009)") return false;
    *number = static_cast<uint32_t>(std::stoul(digits));
    return true;
}

// ---- what the library receives, checked as it arrives ----

static std::atomic<uint32_t> fromAudio;
static std::atomic<uint32_t> fromWindow;
static std::atomic<uint32_t> fromElsewhere;
static std::atomic<uint32_t> mixed;
// The track of the audio thread's latest presence, and the ticks that
// published another (earlier) one: ticks overtaken by a track change.
static std::atomic<uint32_t> latestAudioTrack;
static std::atomic<uint32_t> overtakenTicks;
static std::mutex firstMixedLock;
static std::string firstMixed;

// The recorder's hook: runs on the publishing thread for every call.
static void DISCORD_CDECL CheckRecord(const RecordedCall* call, void*) {
    if (call->kind != RecordedUpdatePresence) return;
    uint32_t number = 0;
    bool whole = TrackOf(call->presence, &number);
    if (call->threadId == PlayerAudioThreadId()) {
        ++fromAudio;
        if (whole) latestAudioTrack = number;
    } else if (call->threadId == PlayerWindowThreadId()) {
        ++fromWindow;
        if (whole && number < latestAudioTrack) ++overtakenTicks;
    } else {
        ++fromElsewhere;
    }
    if (whole) return;
    if (mixed++ != 0) return;
    std::lock_guard<std::mutex> hold(firstMixedLock);
    firstMixed = Describe(*call) + " at " + std::to_string(call->sequence);
}

// ---- the watchdog ----

static std::atomic<uint32_t> progress;
static std::atomic<const char*> stage{"starting"};
static std::mutex watchdogLock;
static std::condition_variable watchdogWake;
static bool watchdogStop;

// Ends the program when no notification or no tick has completed for
// WatchdogMs: a hang cannot be undone from inside, and CTest's timeout is
// far away.
static void WatchProgress(void) {
    uint32_t notifications = progress;
    uint32_t ticks = PluginTicksEnded();
    DWORD notifiedAt = GetTickCount();
    DWORD tickedAt = notifiedAt;
    std::unique_lock<std::mutex> hold(watchdogLock);
    while (!watchdogWake.wait_for(hold, std::chrono::milliseconds(100), [] { return watchdogStop; })) {
        DWORD now = GetTickCount();
        if (progress != notifications) {
            notifications = progress;
            notifiedAt = now;
        }
        if (PluginTicksEnded() != ticks) {
            ticks = PluginTicksEnded();
            tickedAt = now;
        }
        const char* stalled = now - notifiedAt >= WatchdogMs ? "no notification completed"
                              : now - tickedAt >= WatchdogMs ? "no tick ended"
                                                             : nullptr;
        if (stalled == nullptr) continue;
        fprintf(stderr,
                "watchdog: %s for %lu ms while %s (ticks begun %u, ended %u; %u presences from the audio "
                "thread, %u from the window thread): the test fails\n",
                stalled, static_cast<unsigned long>(WatchdogMs), stage.load(),
                static_cast<unsigned>(PluginTicksStarted()), static_cast<unsigned>(PluginTicksEnded()),
                static_cast<unsigned>(fromAudio.load()), static_cast<unsigned>(fromWindow.load()));
        fflush(stderr);
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 4);
    }
}

TEST_F(PluginTest, AMinuteOfNotificationsAgainstTicksKeepsEveryRecordWhole) {
    transcriptTailLines = 300;
    SetNotifyThread(NotifyThread::Audio);
    SetAnswerDelays(WindowThreadAnswerDelayMs, 0);
    SetTickTrackSnapshot(true);
    StartInstance();
    Recorder_SetHook(CheckRecord, nullptr);
    watchdogStop = false;
    std::thread watchdog(WatchProgress);

    // Every TrackEveryMs the audio thread opens the next track itself,
    // paused, then sends NewTrack; in between it sends NewTitle and Reset,
    // which publish the track as the monitor last saw it. A tick sees
    // the track as it was when the tick began, so that every composition
    // has the lines of one track while the audio thread composes later
    // tracks during the tick.
    uint32_t sent = 0;
    uint32_t track = 0;
    uint32_t ticksAtStart = PluginTicksEnded();
    DWORD start = GetTickCount();
    DWORD nextChange = start;
    DWORD lastForget = start;
    uint32_t forgetMark = Mark();
    uint32_t mostInside = 0;
    auto enoughTicks = [ticksAtStart] {
        return PluginTicksEnded() - ticksAtStart >= MinimumTickPublications &&
               fromWindow >= MinimumTickPublications && overtakenTicks >= MinimumOvertakenTicks;
    };
    for (DWORD now = start; now - start < RunMs || (!enoughTicks() && now - start < LongestRunMs);
         now = GetTickCount()) {
        if (static_cast<int32_t>(now - nextChange) >= 0) {
            ++track;
            stage = "opening a track";
            RunOnAudioThread(
                [track] { OpenTrackOnThisThread(NumberedTrack(track), TrackFile, PlaybackMode::Paused); });
            ++sent;
            ++progress;
            nextChange += TrackEveryMs;
        }
        stage = "sending NewTitle";
        NotifyNewTitle("Title");
        ++progress;
        stage = "sending Reset";
        NotifyReset();
        ++progress;
        sent += 2;
        Sleep(PaceMs);

        if (now - lastForget >= ForgetEveryMs) {
            uint32_t mark = Mark();
            ForgetPlayerCallsBefore(forgetMark);
            mostInside = std::max(mostInside, Recorder_MostInsideAtOnce());
            Recorder_Clear();
            forgetMark = mark;
            lastForget = now;
        }
    }
    stage = "freeing the instance";
    EndInstance();
    mostInside = std::max(mostInside, Recorder_MostInsideAtOnce());
    ++progress;
    {
        std::lock_guard<std::mutex> hold(watchdogLock);
        watchdogStop = true;
    }
    watchdogWake.notify_all();
    watchdog.join();
    Recorder_SetHook(nullptr, nullptr);

    uint32_t ticks = PluginTicksEnded() - ticksAtStart;
    printf(
        "%u tracks, %u notifications, %u ticks; presences: %u from the audio thread, %u from ticks, "
        "%u of them overtaken by a track change\n",
        static_cast<unsigned>(track), static_cast<unsigned>(sent), static_cast<unsigned>(ticks),
        static_cast<unsigned>(fromAudio.load()), static_cast<unsigned>(fromWindow.load()),
        static_cast<unsigned>(overtakenTicks.load()));
    EXPECT_EQ(mixed.load(), 0u) << "presences mixing two tracks; the first: " << firstMixed;
    // A notification that shows the card already shown sends nothing; every
    // opened track is a card of its own.
    EXPECT_LE(fromAudio.load(), sent) << "a notification published more than once";
    EXPECT_GE(fromAudio.load(), track) << "an opened track did not show";
    EXPECT_EQ(fromElsewhere.load(), 0u);
    EXPECT_EQ(mostInside, 1u) << "two publications were inside the library at once";
    EXPECT_GE(ticks, MinimumTickPublications) << "the timer fell behind";
    EXPECT_GE(fromWindow.load(), MinimumTickPublications)
        << "the ticks did not publish the changing tracks paused";
    EXPECT_LE(fromWindow.load(), ticks) << "a tick published more than once";
    EXPECT_GE(overtakenTicks.load(), MinimumOvertakenTicks)
        << "the ticks hardly ever published while the audio thread published another track: the run proved "
           "little";
}
