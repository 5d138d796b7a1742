// The player's notifications outside a live instance, which must not reach
// the library nor ask the player anything, while Process keeps counting
// blocks for the monitor; and notifications sent from the audio thread
// while the timer publishes on the window thread.
#include <set>

#include "harness/harness.h"

// Every notification the player can send, as it would around a track.
static void SendEveryNotification(void) {
    NotifyNewTrack("C:\\Music\\strobe.mp3");
    NotifyNewTitle("Strobe");
    NotifyReset();
    NotifyNewTrack(nullptr);
}

TEST_F(PluginTest, BeforeTheFirstNewNotificationsDoNothingButBlocksCount) {
    uint32_t before = Mark();
    OpenTrack(FullTrack(), "C:\\Music\\strobe.mp3");
    SendEveryNotification();
    EXPECT_EQ(CallOrder(before, Mark()), "") << "a notification before New reached the player or the library";

    // Blocks flow before New, then the track pauses. Had they not been
    // counted, the first tick would find the count unchanged and publish
    // Paused; counted, it takes the player for playing, and the jump from
    // the expectation of no track publishes the track playing.
    uint32_t blocks = ProcessCallCount();
    ASSERT_TRUE(WaitUntil([&] { return ProcessCallCount() > blocks + 5; }, 2000)) << "no blocks flowed";
    PauseTrack();
    uint32_t starting = Mark();
    StartInstance();
    std::optional<Tick> third = WaitForTicks(starting, 3, 3 * TickMs + SlackMs);
    ASSERT_TRUE(third);
    std::vector<Tick> ticks = TicksBetween(starting);
    std::vector<RecordedCall> first = PresencesIn(ticks[0]);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(Badge(first[0]), "play") << "blocks fed before New were not counted";
    // The second tick finds the count unchanged since the first and
    // publishes Paused; the third has nothing new.
    std::vector<RecordedCall> second = PresencesIn(ticks[1]);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(Badge(second[0]), "pause");
    EXPECT_TRUE(PresencesIn(ticks[2]).empty());
}

TEST_F(PluginTest, AfterFreeNotificationsDoNothingButBlocksCount) {
    StartInstance();
    OpenTrack(FullTrack(), "C:\\Music\\strobe.mp3");
    uint32_t pausing = Mark();
    PauseTrack();
    // Once Paused is out (up to three ticks: a first tick that republishes
    // the new track leaves the stored count behind), the monitor has stored
    // the block count of the pause.
    ASSERT_TRUE(WaitForPresence(pausing, 3 * TickMs + SlackMs,
                                [](const RecordedCall& call) { return Badge(call) == "pause"; }));
    EndInstance();

    uint32_t before = Mark();
    SendEveryNotification();
    EXPECT_EQ(CallOrder(before, Mark()), "") << "a notification after Free reached the player or the library";

    // Blocks flow only while no instance lives. Counted, they make the new
    // instance's first tick take the player for playing and republish the
    // track; not counted, that tick would find the count of the pause and
    // publish nothing, Paused being already published.
    uint32_t blocks = ProcessCallCount();
    PlayTrack();
    ASSERT_TRUE(WaitUntil([&] { return ProcessCallCount() > blocks + 5; }, 2000)) << "no blocks flowed";
    PauseTrack();
    uint32_t starting = Mark();
    StartInstance();
    std::optional<Tick> first = WaitForTick(starting, TickMs + SlackMs);
    ASSERT_TRUE(first);
    std::vector<RecordedCall> published = PresencesIn(*first);
    ASSERT_EQ(published.size(), 1u) << "blocks fed after Free were not counted";
    EXPECT_EQ(Badge(published[0]), "play");
}

TEST_F(PluginTest, NotificationsFromTheAudioThreadWhileTicksPublish) {
    SetNotifyThread(NotifyThread::Audio);
    StartInstance();
    StandinTrack tracks[2] = {FullTrack("Seventeen", "Light & Magic", "2002"),
                              FullTrack("Destroy Everything You Touch", "Witching Hour", "2005")};
    tracks[0].length = tracks[1].length = "3600";
    const std::set<std::string> titles = {"Seventeen", "Destroy Everything You Touch"};
    const std::set<std::string> lines = {"Light & Magic (2002)", "Witching Hour (2005)"};
    uint32_t starting = Mark();
    OpenTrack(tracks[0], "C:\\Music\\seventeen.mp3");

    // Until two ticks have published, the track changes on the window thread
    // and the title notifications come from the audio thread. After every
    // second tick the player pauses or resumes, so that a tick publishes the
    // change (the first tick after a pause still sees blocks from before it).
    const DWORD loopLimitMs = 8 * TickMs + SlackMs;
    DWORD start = GetTickCount();
    int round = 0;
    size_t ticksSeen = 0;
    size_t fromTicks = 0;
    while (fromTicks < 2 && GetTickCount() - start < loopLimitMs) {
        SetTrack(tracks[round % 2]);
        NotifyNewTitle("changed");
        std::vector<Tick> ticks = TicksBetween(starting);
        if (ticks.size() != ticksSeen) {
            ticksSeen = ticks.size();
            fromTicks = 0;
            for (const Tick& tick : ticks) fromTicks += PresencesIn(tick).size();
            if (ticksSeen % 2 == 0 && TrackMode() == PlaybackMode::Playing) {
                PauseTrack();
            } else if (ticksSeen % 2 == 0) {
                PlayTrack();
            }
        }
        ++round;
        Sleep(5);
    }
    EXPECT_GE(fromTicks, 2u) << "the ticks did not publish while notifications ran";

    // Every presence is whole: texts of one of the two tracks, never a
    // mixture of two publications or a text released before its copy. The
    // audio moves to a new thread at each resume: a presence from neither
    // the window thread nor this one came from an audio thread.
    std::vector<RecordedCall> published = PresencesBetween(starting);
    size_t fromAudio = 0;
    size_t malformed = 0;
    for (const RecordedCall& call : published) {
        if (call.threadId != PlayerWindowThreadId() && call.threadId != GetCurrentThreadId()) ++fromAudio;
        const bool playing = Badge(call) == "play";
        bool whole = titles.count(Text(call.presence.details)) == 1 &&
                     lines.count(Text(call.presence.state)) == 1 &&
                     Text(call.presence.largeImageText) == "XMPlay v3.8.5.0" &&
                     Text(call.presence.smallImageText) == (playing ? "Playing" : "Paused") &&
                     (call.presence.endTimestamp != 0) == playing && call.presence.startTimestamp == 0;
        if (!whole && malformed++ == 0) ADD_FAILURE() << "malformed presence: " << Describe(call);
    }
    EXPECT_EQ(malformed, 0u) << "of " << published.size() << " presences";
    EXPECT_GE(fromAudio, static_cast<size_t>(round) - 1) << "notifications were lost";
}
