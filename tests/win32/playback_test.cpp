// A track played through in the stand-in player with the real timer: the
// presence at the opening, the first tick's republication, a pause, a
// resume, a seek, the player stopping, and the track being closed.
#include <cmath>

#include "harness/harness.h"

static const char OpenedFile[] = "C:\\Music\\Ladytron\\strobe.mp3";

// The publication of one track, with what every presence of it shares.
static void ExpectTrackPresence(const RecordedCall& call, const char* badge, const char* badgeText) {
    const RecordedPresence& presence = call.presence;
    EXPECT_EQ(Text(presence.details), "Strobe") << Describe(call);
    EXPECT_EQ(Text(presence.state), "For Lack of a Better Name (2009)") << Describe(call);
    EXPECT_EQ(Text(presence.smallImageKey), badge) << Describe(call);
    EXPECT_EQ(Text(presence.smallImageText), badgeText) << Describe(call);
    EXPECT_EQ(Text(presence.largeImageKey), "icon") << Describe(call);
    EXPECT_EQ(Text(presence.largeImageText), "XMPlay v3.8.5.0") << Describe(call);
    EXPECT_EQ(presence.instance, 1);
    EXPECT_TRUE(presence.partyId.isNull && presence.matchSecret.isNull && presence.joinSecret.isNull &&
                presence.spectateSecret.isNull);
    EXPECT_EQ(presence.partySize, 0);
    EXPECT_EQ(presence.partyMax, 0);
}

TEST_F(PluginTest, ATrackPlayedPausedResumedSeekedAndStopped) {
    StartInstance();

    // Opening the track publishes it at once, on the thread of the notification.
    uint32_t opening = Mark();
    OpenTrack(FullTrack(), OpenedFile);
    uint32_t opened = Mark();
    std::vector<RecordedCall> atOpening = PresencesBetween(opening, opened);
    ASSERT_EQ(atOpening.size(), 1u);
    ExpectTrackPresence(atOpening[0], "play", "Playing");
    ExpectRemainingClock(atOpening[0], 200);
    EXPECT_EQ(atOpening[0].threadId, PlayerWindowThreadId());
    EXPECT_EQ(CallOrder(opening, opened),
              "GetTag(-1) GetTime GetTag(-4) Free(-4) GetTag(2) GetTag(3) GetTag(7) Free(2) Free(3) Free(7) "
              "Update Free(-1)");
    // Every text of the record is the plug-in's own, never one the player handed out.
    const RecordedPresence& record = atOpening[0].presence;
    for (const RecordedText* text : {&record.details, &record.state, &record.largeImageKey,
                                     &record.largeImageText, &record.smallImageKey, &record.smallImageText})
        EXPECT_TRUE(PluginImageContains(text->address)) << "a text of the record lies outside the plug-in";

    // The first tick finds the expectation of no track and republishes.
    std::optional<Tick> first = WaitForTick(opened, TickMs + SlackMs);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->threadId, PlayerWindowThreadId());
    std::vector<RecordedCall> republished = PresencesIn(*first);
    ASSERT_EQ(republished.size(), 1u);
    ExpectTrackPresence(republished[0], "play", "Playing");
    ExpectRemainingClock(republished[0], 200);

    // From then on a playing tick publishes nothing.
    std::optional<Tick> quiet = WaitForTick(first->end, TickMs + SlackMs);
    ASSERT_TRUE(quiet);
    EXPECT_TRUE(PresencesIn(*quiet).empty());
    EXPECT_EQ(CallOrder(quiet->start, quiet->end), "IsPlaying GetTag(-4) Free(-4) GetTime");

    // A pause shows within two ticks: the first may still see blocks that
    // came before the pause.
    uint32_t pausing = Mark();
    PauseTrack();
    double pausedAt = TrackPosition();
    std::optional<RecordedCall> paused = WaitForPresence(pausing, 2 * TickMs + SlackMs);
    ASSERT_TRUE(paused) << "no Paused presence within two ticks";
    ExpectTrackPresence(*paused, "pause", "Paused");
    EXPECT_EQ(paused->presence.startTimestamp, 0);
    EXPECT_EQ(paused->presence.endTimestamp, 0);
    std::optional<Tick> pauseTick = TickContaining(paused->sequence, TickMs);
    ASSERT_TRUE(pauseTick) << "Paused was not published by a tick";
    EXPECT_LE(TicksBetween(pausing, pauseTick->end + 1).size(), 2u)
        << "Paused came later than the second tick after the pause";
    EXPECT_EQ(CallOrder(pauseTick->start, pauseTick->end),
              "IsPlaying GetTag(-1) GetTag(2) GetTag(3) GetTag(7) Free(2) Free(3) Free(7) Update Free(-1)")
        << "a Paused publication asks neither the time nor the length";

    // While paused, a tick only asks whether the player plays.
    std::optional<Tick> pausedTick = WaitForTick(paused->sequence, TickMs + SlackMs);
    ASSERT_TRUE(pausedTick);
    EXPECT_EQ(CallOrder(pausedTick->start, pausedTick->end), "IsPlaying");
    EXPECT_NEAR(TrackPosition(), pausedAt, 0.001) << "the stand-in's position stands still while paused";

    // A resume shows Playing again with a clock from the position it resumed at.
    uint32_t resuming = Mark();
    PlayTrack();
    std::optional<RecordedCall> resumed = WaitForPresence(resuming, 2 * TickMs + SlackMs);
    ASSERT_TRUE(resumed) << "no presence within two ticks of the resume";
    ExpectTrackPresence(*resumed, "play", "Playing");
    ExpectRemainingClock(*resumed, 200);

    // Once the ticks are quiet again, a seek of more than five seconds is
    // republished at the next tick.
    std::optional<Tick> settled;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const Tick& tick : TicksBetween(resumed->sequence))
                if (PresencesIn(tick).empty()) settled = tick;
            return settled.has_value();
        },
        3 * TickMs + SlackMs))
        << "the ticks after the resume kept publishing";
    uint32_t seeking = Mark();
    SeekTrack(TrackPosition() + 60);
    std::optional<Tick> seekTick = WaitForTick(seeking, TickMs + SlackMs);
    ASSERT_TRUE(seekTick);
    std::vector<RecordedCall> afterSeek = PresencesIn(*seekTick);
    ASSERT_EQ(afterSeek.size(), 1u) << "the seek was not republished at the first tick after it";
    ExpectTrackPresence(afterSeek[0], "play", "Playing");
    ExpectRemainingClock(afterSeek[0], 200);

    // The player stopping shows the stopped presence at the next tick.
    uint32_t stopping = Mark();
    StopTrack();
    std::optional<Tick> stopTick = WaitForTick(stopping, TickMs + SlackMs);
    ASSERT_TRUE(stopTick);
    std::vector<RecordedCall> stopped = PresencesIn(*stopTick);
    ASSERT_EQ(stopped.size(), 1u);
    const RecordedPresence& card = stopped[0].presence;
    EXPECT_EQ(Text(card.details), "No tracks playing.");
    EXPECT_EQ(Text(card.state), "");
    EXPECT_EQ(Text(card.smallImageKey), "stopped");
    EXPECT_EQ(Text(card.smallImageText), "Stopped");
    EXPECT_EQ(card.startTimestamp, 0);
    EXPECT_EQ(card.endTimestamp, 0);
    EXPECT_EQ(CallOrder(stopTick->start, stopTick->end), "IsPlaying Update");
}

TEST_F(PluginTest, ClosingTheTrackShowsTheStoppedPresenceAtOnce) {
    StartInstance();
    OpenTrack(FullTrack(), OpenedFile);
    uint32_t closing = Mark();
    CloseTrack();
    uint32_t closed = Mark();
    std::vector<RecordedCall> atClosing = PresencesBetween(closing, closed);
    ASSERT_EQ(atClosing.size(), 1u);
    EXPECT_EQ(Text(atClosing[0].presence.details), "No tracks playing.");
    EXPECT_EQ(Text(atClosing[0].presence.state), "");
    EXPECT_EQ(Badge(atClosing[0]), "stopped");
    EXPECT_EQ(Text(atClosing[0].presence.smallImageText), "Stopped");
    EXPECT_EQ(atClosing[0].presence.startTimestamp, 0);
    EXPECT_EQ(atClosing[0].presence.endTimestamp, 0);
    EXPECT_EQ(Text(atClosing[0].presence.largeImageText), "XMPlay v3.8.5.0");
    EXPECT_EQ(CallOrder(closing, closed), "Update") << "a closed track needs nothing from the player";
}

TEST_F(PluginTest, TitleChangeAndResetRepublishThePlayersFormattedTitle) {
    StartInstance();
    OpenTrack(FullTrack(), OpenedFile);
    StandinTrack renamed = FullTrack("Ladytron - Ghosts");
    SetTrack(renamed);
    for (const char* passed : {"a title the player did not format", static_cast<const char*>(nullptr)}) {
        uint32_t before = Mark();
        NotifyNewTitle(passed);
        std::vector<RecordedCall> published = PresencesBetween(before, Mark());
        ASSERT_EQ(published.size(), 1u);
        EXPECT_EQ(Text(published[0].presence.details), "Ladytron - Ghosts");
        EXPECT_EQ(Badge(published[0]), "play");
    }
    uint32_t before = Mark();
    NotifyReset();
    std::vector<RecordedCall> published = PresencesBetween(before, Mark());
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(Text(published[0].presence.details), "Ladytron - Ghosts");
    EXPECT_EQ(Text(published[0].presence.state), "For Lack of a Better Name (2009)");
    ExpectRemainingClock(published[0], 200);
    // An empty file name is still an opened track.
    before = Mark();
    NotifyNewTrack("");
    published = PresencesBetween(before, Mark());
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(Badge(published[0]), "play");
}
