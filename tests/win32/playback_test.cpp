// A track played through in the stand-in player with the real timer, the
// stand-in calling the plug-in as the real player does: the presence at the
// opening, a pause, seeks while paused and while playing, a resume, the
// player stopping and playing again, track changes, a closed track and a
// new title while paused.
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

// The card's clock ends where the track would end from the position the
// player gave, within the monitor's tolerance of five seconds.
static void ExpectClockNear(const RecordedCall& call, double position) {
    const double left = SecondsLeft(call);
    EXPECT_NEAR(left, 200.0 - position, 5.0) << Describe(call);
}

// What a tick that found nothing new asks while the track plays.
static const char QuietPlayingTick[] = "IsPlaying GetTag(-4) Free(-4) GetTime";

TEST_F(PluginTest, ATrackPlayedPausedSeekedResumedStoppedAndPlayedAgain) {
    // The new instance's first tick shows what it sees: nothing plays yet.
    uint32_t starting = Mark();
    StartInstance();
    ASSERT_TRUE(WaitForTick(starting, TickMs + SlackMs)) << "the first tick never came";

    // Opening the track publishes it at once, on the player's worker thread.
    uint32_t opening = Mark();
    OpenTrack(FullTrack(), OpenedFile);
    uint32_t opened = Mark();
    std::vector<RecordedCall> atOpening = PresencesBetween(opening, opened);
    ASSERT_EQ(atOpening.size(), 1u) << "the close before the open showed, or the track went out twice";
    ExpectTrackPresence(atOpening[0], "play", "Playing");
    ExpectClockNear(atOpening[0], 0.0);
    EXPECT_NE(atOpening[0].threadId, PlayerWindowThreadId()) << "the stand-in opened on its window thread";
    EXPECT_EQ(
        CallOrder(opening, opened),
        "GetTag(-1) GetTag(-3) GetTag(-4) Free(-4) GetTag(2) GetTag(3) GetTag(7) Free(2) Free(3) Free(7) "
        "Update Free(-1) Free(null)")
        << "an opened track starts at 0: its position is not asked";
    // Every text of the record is the plug-in's own, never one the player handed out.
    const RecordedPresence& record = atOpening[0].presence;
    for (const RecordedText* text : {&record.details, &record.state, &record.largeImageKey,
                                     &record.largeImageText, &record.smallImageKey, &record.smallImageText})
        EXPECT_TRUE(PluginImageContains(text->address)) << "a text of the record lies outside the plug-in";

    // The ticks judge the clock by the one the opening published: quiet.
    std::optional<Tick> second = WaitForTicks(opened, 2, 2 * TickMs + SlackMs);
    ASSERT_TRUE(second);
    for (const Tick& tick : TicksBetween(opened, second->end + 1)) {
        EXPECT_TRUE(PresencesIn(tick).empty()) << "the opened track went out again";
        EXPECT_EQ(CallOrder(tick.start, tick.end), QuietPlayingTick);
    }

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
              "IsPlaying GetTag(-1) GetTag(-3) GetTag(2) GetTag(3) GetTag(7) Free(2) Free(3) Free(7) Update "
              "Free(-1) "
              "Free(null)")
        << "a Paused publication asks neither the time nor the length";

    // While paused, a tick only asks whether the player plays.
    std::optional<Tick> pausedTick = WaitForTick(paused->sequence, TickMs + SlackMs);
    ASSERT_TRUE(pausedTick);
    EXPECT_EQ(CallOrder(pausedTick->start, pausedTick->end), "IsPlaying");
    EXPECT_NEAR(TrackPosition(), pausedAt, 0.001) << "the stand-in's position stands still while paused";

    // Seeks while paused, one and then three in a row: each Reset composes
    // the track paused, which the card shows already, so nothing goes out;
    // no tick shows it playing either.
    uint32_t seeking = Mark();
    SeekTrack(100);
    uint32_t sought = Mark();
    EXPECT_NE(CallOrder(seeking, sought).find("GetTag(-1)"), std::string::npos)
        << "the seek's Reset composed nothing";
    for (double to : {20.0, 150.0, 60.0}) SeekTrack(to);
    std::optional<Tick> afterSeeks = WaitForTicks(Mark(), 2, 2 * TickMs + SlackMs);
    ASSERT_TRUE(afterSeeks);
    for (const RecordedCall& call : PresencesBetween(seeking))
        ADD_FAILURE() << "a seek while paused, or a tick after it, showed " << Describe(call);

    // The resume shows Playing with the clock from where the seeks left it.
    uint32_t resuming = Mark();
    const int64_t resumedAtMs = WallClockMs();
    PlayTrack();
    std::optional<RecordedCall> resumed = WaitForPresence(resuming, 2 * TickMs + SlackMs);
    ASSERT_TRUE(resumed) << "no presence within two ticks of the resume";
    ExpectTrackPresence(*resumed, "play", "Playing");
    ExpectRemainingClock(*resumed, 200);
    // The position it was published from lies between 60 and 60 plus the
    // time the resume took to show.
    const double resumeTook = static_cast<double>(resumed->wallClockMs - resumedAtMs) / 1000.0;
    EXPECT_LE(SecondsLeft(*resumed), 200.0 - 60.0 + 1.0) << Describe(*resumed);
    EXPECT_GE(SecondsLeft(*resumed), 200.0 - 60.0 - resumeTook - 1.0) << Describe(*resumed);
    std::optional<Tick> afterResume = WaitForTick(resumed->sequence, TickMs + SlackMs);
    ASSERT_TRUE(afterResume);
    EXPECT_TRUE(PresencesIn(*afterResume).empty()) << "the resume went out twice";

    // A seek while playing shows at once, through its Reset on the window
    // thread, and no tick repeats it.
    seeking = Mark();
    SeekTrack(TrackPosition() + 60);
    sought = Mark();
    std::vector<RecordedCall> afterSeek = PresencesBetween(seeking, sought);
    ASSERT_EQ(afterSeek.size(), 1u) << "the seek did not show at once";
    ExpectTrackPresence(afterSeek[0], "play", "Playing");
    ExpectRemainingClock(afterSeek[0], 200);
    EXPECT_EQ(afterSeek[0].threadId, PlayerWindowThreadId());
    std::optional<Tick> afterPlayingSeek = WaitForTicks(sought, 2, 2 * TickMs + SlackMs);
    ASSERT_TRUE(afterPlayingSeek);
    EXPECT_TRUE(PresencesBetween(sought).empty()) << "a tick repeated the seek";

    // The player stopping (no NewTrack) shows the stopped presence at the next tick.
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

    // Played again from stopped, as from the end of the list: SetFormat
    // only, and the next tick shows the track from its start. A stop after
    // that shows again at the next tick, whatever path showed the track.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first play from stopped" : "second play from stopped");
        uint32_t playing = Mark();
        PlayTrack();
        std::optional<Tick> playTick = WaitForTick(playing, TickMs + SlackMs);
        ASSERT_TRUE(playTick);
        std::vector<RecordedCall> replayed = PresencesIn(*playTick);
        ASSERT_EQ(replayed.size(), 1u) << "play from stopped did not show at the next tick";
        ExpectTrackPresence(replayed[0], "play", "Playing");
        ExpectClockNear(replayed[0], TrackPosition());
        stopping = Mark();
        StopTrack();
        stopTick = WaitForTick(stopping, TickMs + SlackMs);
        ASSERT_TRUE(stopTick);
        stopped = PresencesIn(*stopTick);
        ASSERT_EQ(stopped.size(), 1u) << "the stop after a play from stopped never showed";
        EXPECT_EQ(Badge(stopped[0]), "stopped");
    }
}

// The next track, by key and at a natural end: the player closes the old
// track just before it opens the new one, and the card goes from one track
// to the next without "No tracks playing." between, each shown once.
TEST_F(PluginTest, TrackChangesShowTheNextTrackWithoutAStopBetween) {
    StartInstance();
    OpenTrack(FullTrack(), OpenedFile);
    const struct {
        const char* way;
        bool naturalEnd;
        const char* title;
    } changes[] = {
        {"by key", false, "Ghosts"},
        {"at the natural end", true, "Black Cat"},
        {"by key again", false, "Runaway"},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.way);
        // Land the change just before a tick: at a natural end the tick then
        // falls in the old track's tail, with no tags.
        std::optional<Tick> before = WaitForTick(Mark(), TickMs + SlackMs);
        ASSERT_TRUE(before);
        if (change.naturalEnd) Sleep(TickMs - TailMs / 2);
        uint32_t changing = Mark();
        if (change.naturalEnd) {
            PlayOnToTrack(FullTrack(change.title), OpenedFile);
        } else {
            OpenTrack(FullTrack(change.title), OpenedFile);
        }
        std::optional<Tick> after = WaitForTicks(Mark(), 2, 2 * TickMs + SlackMs);
        ASSERT_TRUE(after);
        std::vector<RecordedCall> shown = PresencesBetween(changing);
        ASSERT_EQ(shown.size(), 1u) << "the change showed more than the next track";
        EXPECT_EQ(Text(shown[0].presence.details), change.title);
        EXPECT_EQ(Badge(shown[0]), "play");
        ExpectClockNear(shown[0], 0.0);
    }
}

TEST_F(PluginTest, AClosedTrackThatStaysClosedShowsWithinThreeSeconds) {
    StartInstance();
    OpenTrack(FullTrack(), OpenedFile);
    uint32_t closing = Mark();
    CloseTrack();
    uint32_t closed = Mark();
    EXPECT_TRUE(PresencesBetween(closing, closed).empty()) << "the close showed before a track could follow";
    EXPECT_EQ(CallOrder(closing, closed), "") << "a closed track needs nothing from the player";
    std::optional<RecordedCall> shown = WaitForPresence(closing, 3000 + SlackMs);
    ASSERT_TRUE(shown) << "the closed track never showed";
    // The plug-in waits a second on its own clock; the log's wall clock may
    // round the other way by a tick of either clock.
    EXPECT_GE(shown->wallClockMs -
                  PlayerCallsBetween(closing, closed, PlayerCallKind::SlotEnter).back().wallClockMs,
              900)
        << "the close showed before a second had passed";
    EXPECT_EQ(Text(shown->presence.details), "No tracks playing.");
    EXPECT_EQ(Text(shown->presence.state), "");
    EXPECT_EQ(Badge(*shown), "stopped");
    EXPECT_EQ(Text(shown->presence.smallImageText), "Stopped");
    EXPECT_EQ(shown->presence.startTimestamp, 0);
    EXPECT_EQ(shown->presence.endTimestamp, 0);
    EXPECT_EQ(Text(shown->presence.largeImageText), "XMPlay v3.8.5.0");
    std::optional<Tick> showTick = TickContaining(shown->sequence, TickMs);
    ASSERT_TRUE(showTick);
    EXPECT_EQ(CallOrder(showTick->start, showTick->end), "Update");
    std::optional<Tick> later = WaitForTicks(showTick->end, 2, 2 * TickMs + SlackMs);
    ASSERT_TRUE(later);
    EXPECT_TRUE(PresencesBetween(showTick->end).empty()) << "the closed track showed twice";
}

TEST_F(PluginTest, TitleChangeAndResetRepublishThePlayersFormattedTitle) {
    StartInstance();
    OpenTrack(FullTrack(), OpenedFile);
    // Each notification finds a title of its own: a card like the one shown
    // would not be sent.
    const struct {
        const char* formatted;  // what the player formats
        const char* passed;     // what NewTitle passes
    } titles[] = {{"Ladytron - Ghosts", "a title the player did not format"},
                  {"Ladytron - Ghosts (Live)", nullptr}};
    for (const auto& title : titles) {
        SetTrack(FullTrack(title.formatted));
        uint32_t before = Mark();
        NotifyNewTitle(title.passed);
        std::vector<RecordedCall> published = PresencesBetween(before, Mark());
        ASSERT_EQ(published.size(), 1u);
        EXPECT_EQ(Text(published[0].presence.details), title.formatted);
        EXPECT_EQ(Badge(published[0]), "play");
    }
    SetTrack(FullTrack("Ladytron - Ghosts"));
    uint32_t before = Mark();
    NotifyReset();
    std::vector<RecordedCall> published = PresencesBetween(before, Mark());
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(Text(published[0].presence.details), "Ladytron - Ghosts");
    EXPECT_EQ(Text(published[0].presence.state), "For Lack of a Better Name (2009)");
    ExpectRemainingClock(published[0], 200);
    // An empty file name is still an opened track.
    SetTrack(FullTrack("Ladytron - Ghosts (Reprise)"));
    before = Mark();
    NotifyNewTrack("");
    published = PresencesBetween(before, Mark());
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(Badge(published[0]), "play");

    // A new title while paused shows the new title, paused.
    uint32_t pausing = Mark();
    PauseTrack();
    ASSERT_TRUE(WaitForPresence(pausing, 2 * TickMs + SlackMs, [](const RecordedCall& call) {
        return Badge(call) == "pause";
    })) << "the pause never showed";
    SetTrack(FullTrack("Ladytron - Runaway"));
    before = Mark();
    NotifyNewTitle("Runaway");
    published = PresencesBetween(before, Mark());
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(Text(published[0].presence.details), "Ladytron - Runaway");
    EXPECT_EQ(Badge(published[0]), "pause") << "a new title while paused showed the track playing";
    EXPECT_EQ(published[0].presence.endTimestamp, 0);
}
