// The playback monitor: its state table, the seek guard's threshold, pause
// and resume, a closed track's wait for the next, the dialog's request, and
// the wrap-around of the block counter and the guard's arithmetic (run under
// UBSan with the extreme values).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/plugin_state.h"

namespace {

using Names = std::vector<std::string>;

const int64_t Now = 1700000000;
const int32_t Remaining = 170;  // length 200, position 30.4

enum class Observation { PlayingJump, PlayingQuiet, Paused, Stopped };
enum class Outcome { Nothing, PublishPlaying, PublishPaused, PublishStopped };

class Monitor : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetWallClock(Now);
        dsp = fake::BindPlugin();
        dsp->New();
        // These tests start from a card that shows what plays; the new
        // instance's own first republication is the instance's test.
        republishRequested = false;
        fake::SetTrack(fake::Track{"Title", "200", "Album", "1999", "MP3", 30.4});
        fake::SetPlaying(1);
        fake::ClearCalls();
    }

    void TearDown() override {
        dsp->Free(nullptr);
        EXPECT_TRUE(fake::TextsBalanced()) << "every player text is released exactly once";
    }

    // Audio flowed since the previous tick.
    void Blocks(int count = 1) {
        for (int i = 0; i < count; i++) dsp->Process(nullptr, nullptr, 0);
    }

    // Sets the guard so that this tick's comparison differs by difference seconds.
    void ExpectDifference(int32_t remaining, int32_t difference) {
        expectedRemaining = remaining - difference + 2;
    }

    void Observe(Observation observation) {
        fake::SetPlaying(observation == Observation::Stopped ? 0 : 1);
        if (observation == Observation::PlayingJump || observation == Observation::PlayingQuiet) Blocks();
        if (observation == Observation::PlayingJump) ExpectDifference(Remaining, 100);
        if (observation == Observation::PlayingQuiet) ExpectDifference(Remaining, 0);
    }

    // Runs one tick and tells what it published; every publication is what
    // the card shows, so its state is the one recorded. The card is forgotten
    // first, so that every publication reaches the library, even one that
    // repeats the card: sparing the library those is the pacing's part.
    Outcome Tick() {
        fake::ForgetLastUpdate();
        const size_t before = fake::PresenceCount();
        RunMonitorTick();
        const size_t sent = fake::PresenceCount() - before;
        if (sent == 0) return Outcome::Nothing;
        EXPECT_EQ(sent, 1u);
        const std::string badge = fake::LastPresence().smallImageKey.text;
        const Outcome outcome = badge == "pause"     ? Outcome::PublishPaused
                                : badge == "stopped" ? Outcome::PublishStopped
                                                     : Outcome::PublishPlaying;
        const PlaybackState shown = outcome == Outcome::PublishPaused    ? Paused
                                    : outcome == Outcome::PublishStopped ? Stopped
                                                                         : Playing;
        EXPECT_EQ(publishedState.load(), shown) << "the publication is what the card shows";
        return outcome;
    }

    const XMPDSP* dsp = nullptr;
};

struct TableCase {
    PlaybackState published;
    Observation observation;
    Outcome outcome;
    PlaybackState publishedAfter;
};

TEST_F(Monitor, PublishedStateMovesAsTheStateTableSays) {
    const TableCase cases[] = {
        {Playing, Observation::PlayingJump, Outcome::PublishPlaying, Playing},
        {Playing, Observation::PlayingQuiet, Outcome::Nothing, Playing},
        {Playing, Observation::Paused, Outcome::PublishPaused, Paused},
        {Playing, Observation::Stopped, Outcome::PublishStopped, Stopped},
        {Paused, Observation::PlayingJump, Outcome::PublishPlaying, Playing},
        {Paused, Observation::PlayingQuiet, Outcome::PublishPlaying, Playing},
        {Paused, Observation::Paused, Outcome::Nothing, Paused},
        {Paused, Observation::Stopped, Outcome::PublishStopped, Stopped},
        {Stopped, Observation::PlayingJump, Outcome::PublishPlaying, Playing},
        {Stopped, Observation::PlayingQuiet, Outcome::PublishPlaying, Playing},
        {Stopped, Observation::Paused, Outcome::PublishPaused, Paused},
        {Stopped, Observation::Stopped, Outcome::Nothing, Stopped},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "published " << c.published << ", observation " << static_cast<int>(c.observation));
        publishedState = c.published;
        lastProcessCount = processCount.load();
        Observe(c.observation);
        EXPECT_EQ(Tick(), c.outcome);
        EXPECT_EQ(publishedState.load(), c.publishedAfter);
        EXPECT_EQ(lastProcessCount, processCount.load()) << "every tick keeps the count it saw";
        if (c.outcome == Outcome::PublishPlaying) {
            EXPECT_EQ(expectedRemaining, Remaining) << "a Playing publication adopts the real remaining time";
        }
    }
}

// A jump publishes the track playing once, whatever the card showed, and
// the ticks after it judge by that: a stop then shows at once.
TEST_F(Monitor, AJumpCountsAsWhatTheCardShows) {
    for (PlaybackState from : {Paused, Stopped}) {
        publishedState = from;
        Observe(Observation::PlayingJump);
        EXPECT_EQ(Tick(), Outcome::PublishPlaying);
        Blocks();  // the guard is in step now: one tick later, 2 seconds on
        fake::SetPosition(32.4);
        EXPECT_EQ(Tick(), Outcome::Nothing) << "the jump's publication was not counted";
        fake::SetPlaying(0);
        EXPECT_EQ(Tick(), Outcome::PublishStopped);
        fake::SetPlaying(1);
        fake::SetPosition(30.4);
    }
}

TEST_F(Monitor, AJumpIsADifferenceOfMoreThanFiveSecondsEitherWay) {
    const struct {
        int32_t difference;
        bool jump;
    } cases[] = {{5, false}, {-5, false}, {6, true}, {-6, true}, {0, false}};
    for (const auto& c : cases) {
        publishedState = Playing;
        Blocks();
        ExpectDifference(Remaining, c.difference);
        const int32_t guard = expectedRemaining - 2;
        EXPECT_EQ(Tick(), c.jump ? Outcome::PublishPlaying : Outcome::Nothing) << c.difference;
        EXPECT_EQ(expectedRemaining, c.jump ? Remaining : guard) << c.difference;
    }
}

TEST_F(Monitor, QuietTicksAskOnlyWhatTheyNeed) {
    settings.timeMode = TimeDisabled;  // the guard reads length and position whatever the mode
    Observe(Observation::PlayingQuiet);
    RunMonitorTick();
    EXPECT_EQ(fake::CallNames(), (Names{"IsPlaying", "GetTag(-4)", "Free(-4)", "GetTime"}));

    publishedState = Paused;
    fake::ClearCalls();
    RunMonitorTick();  // no block since: paused, as already published
    EXPECT_EQ(fake::CallNames(), (Names{"IsPlaying"}));

    publishedState = Stopped;
    fake::SetPlaying(0);
    fake::ClearCalls();
    RunMonitorTick();
    EXPECT_EQ(fake::CallNames(), (Names{"IsPlaying"}));
}

TEST_F(Monitor, JumpRepublishesTheTrackInTheComposersOrder) {
    Observe(Observation::PlayingJump);
    RunMonitorTick();
    EXPECT_EQ(fake::CallNames(),
              (Names{"IsPlaying", "GetTag(-4)", "Free(-4)", "GetTime", "GetTag(-1)", "GetTag(-3)", "GetTime",
                     "GetTag(-4)", "Free(-4)", "GetTag(2)", "GetTag(3)", "GetTag(7)", "Free(2)", "Free(3)",
                     "Free(7)", "Discord_UpdatePresence", "Free(-1)", "Free(null)"}));
    EXPECT_EQ(fake::LastPresence().endTimestamp, Now + Remaining);
}

TEST_F(Monitor, PauseAndResumeShowWithoutAJump) {
    // Playing, guard in step.
    Observe(Observation::PlayingQuiet);
    EXPECT_EQ(Tick(), Outcome::Nothing);
    const int32_t guard = expectedRemaining;

    // No block for a whole tick: paused, and the guard stands still.
    EXPECT_EQ(Tick(), Outcome::PublishPaused);
    EXPECT_EQ(expectedRemaining, guard);
    EXPECT_EQ(Tick(), Outcome::Nothing);
    EXPECT_EQ(expectedRemaining, guard);

    // Resumed a moment before the tick: the track advanced by less than 2 seconds.
    Blocks(3);
    fake::SetPosition(31.0);
    EXPECT_EQ(Tick(), Outcome::PublishPlaying);
    EXPECT_EQ(expectedRemaining, 169) << "the resumed clock is the one the guard follows";
    const fake::RecordedPresence& sent = fake::LastPresence();
    EXPECT_EQ(sent.endTimestamp, Now + 169) << "the playing presence carries a fresh clock";
}

TEST_F(Monitor, JustLoadedAndNothingPlayingPublishesStoppedOnce) {
    fake::SetPlaying(0);
    EXPECT_EQ(Tick(), Outcome::PublishStopped);
    EXPECT_EQ(Tick(), Outcome::Nothing);
    EXPECT_EQ(Tick(), Outcome::Nothing);
}

TEST_F(Monitor, JustLoadedWhilePlayingRepublishesOnceThenStaysQuiet) {
    Blocks();
    EXPECT_EQ(Tick(), Outcome::PublishPlaying);  // expected -2, remaining 170
    EXPECT_EQ(publishedState, Playing);
    Blocks();
    fake::SetPosition(32.4);
    EXPECT_EQ(Tick(), Outcome::Nothing);
}

TEST_F(Monitor, TrackWithoutLengthUsesMinusThePositionAsItsRemainingTime) {
    fake::SetTag(TagLengthSeconds, "0");
    Blocks();
    expectedRemaining = 0;
    EXPECT_EQ(Tick(), Outcome::PublishPlaying);
    EXPECT_EQ(expectedRemaining, -30);
    Blocks();
    fake::SetPosition(32.4);
    EXPECT_EQ(Tick(), Outcome::Nothing);
    EXPECT_EQ(expectedRemaining, -32);
    EXPECT_EQ(fake::LastPresence().startTimestamp, Now - 30) << "no length: the clock counts up";

    fake::SetTag(TagLengthSeconds, nullptr);  // a missing length counts as 0
    Blocks();
    fake::SetPosition(34.4);
    EXPECT_EQ(Tick(), Outcome::Nothing);
}

TEST_F(Monitor, BlockCounterWrapsFromItsLargestValueToZero) {
    processCount.store(0xFFFFFFFFu);
    lastProcessCount = 0xFFFFFFFFu;
    publishedState = Paused;
    EXPECT_EQ(Tick(), Outcome::Nothing) << "an unchanged count is a pause";
    Blocks();
    EXPECT_EQ(processCount.load(), 0u);
    ExpectDifference(Remaining, 0);
    EXPECT_EQ(Tick(), Outcome::PublishPlaying);
    EXPECT_EQ(lastProcessCount, 0u);
}

// Every difference wraps at 32 bits (and UBSan aborts on any overflow): the
// table gives the outcome and the guard after each of two playing ticks, as
// the wrapped arithmetic has them. An unknown position (NaN, out of range)
// counts as INT32_MIN.
TEST_F(Monitor, ExtremeLengthsAndPositionsWrapWithoutUndefinedBehaviour) {
    const struct {
        const char* length;
        double position;
        int32_t guard;
        Outcome first;
        int32_t guardAfterFirst;
        int32_t guardAfterSecond;  // the second tick is quiet: its guard only falls by 2
    } cases[] = {
        // remaining INT32_MAX - INT32_MIN wraps to -1; the guard INT32_MIN - 2 to INT32_MAX - 1
        {"2147483647", -2147483648.0, INT32_MIN, Outcome::PublishPlaying, -1, -3},
        {"2147483647", -2147483648.0, INT32_MAX, Outcome::PublishPlaying, -1, -3},
        // remaining INT32_MIN - INT32_MAX wraps to 1; the guard INT32_MIN + 1 - 2 to INT32_MAX
        {"-2147483648", 2147483647.0, INT32_MIN + 1, Outcome::PublishPlaying, 1, -1},
        // remaining -1 against a guard of -2: no jump
        {"2147483647", std::nan(""), 0, Outcome::Nothing, -2, -4},
        // a clamped length and an unknown position: remaining 0, five seconds from -5 at the second tick
        {"-99999999999", 1e300, -1, Outcome::Nothing, -3, -5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "length " << c.length << ", position " << c.position << ", guard " << c.guard);
        fake::SetTag(TagLengthSeconds, c.length);
        fake::SetPosition(c.position);
        publishedState = Playing;
        expectedRemaining = c.guard;
        Blocks();
        EXPECT_EQ(Tick(), c.first);
        EXPECT_EQ(expectedRemaining.load(), c.guardAfterFirst);
        Blocks();
        EXPECT_EQ(Tick(), Outcome::Nothing);
        EXPECT_EQ(expectedRemaining.load(), c.guardAfterSecond);
    }
}

TEST_F(Monitor, SmallestRemainingDifferenceIsAJump) {
    // remaining 2147483647 - (-1) wraps to INT32_MIN; the guard expects 0.
    fake::SetTag(TagLengthSeconds, "2147483647");
    fake::SetPosition(-1.0);
    expectedRemaining = 2;
    Blocks();
    EXPECT_EQ(Tick(), Outcome::PublishPlaying);
    EXPECT_EQ(expectedRemaining, INT32_MIN);
}

// An opened track's clock starts at its beginning, whatever position the
// player still reports of the previous item (a CUE sheet's next part lags
// some 0.75 s); a tick within a second of the opening does not judge it,
// and a later one corrects only a real difference.
TEST_F(Monitor, AnOpenedTracksClockIsJudgedOnceThePlayerHasSettled) {
    const struct {
        const char* name;
        uint32_t tickAfterMs;
        double positionAtTick;
        Outcome outcome;
        double positionTwoSecondsLater;
    } cases[] = {
        {"a tick while the old position lingers", 500, 12.9, Outcome::Nothing, 2.5},
        {"a tick once settled, in step", 2000, 2.0, Outcome::Nothing, 4.0},
        {"a tick once settled, the track elsewhere", 2000, 40.0, Outcome::PublishPlaying, 42.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Observe(Observation::PlayingQuiet);
        Tick();
        fake::SetPosition(12.48);
        dsp->NewTrack(nullptr, "part2.wav");
        EXPECT_EQ(fake::LastPresence().endTimestamp, Now + 200)
            << "the opened track's clock took the old position";
        fake::AdvanceMonotonicMs(c.tickAfterMs);
        fake::SetPosition(c.positionAtTick);
        Blocks();
        EXPECT_EQ(Tick(), c.outcome);
        fake::AdvanceMonotonicMs(2000);
        fake::SetPosition(c.positionTwoSecondsLater);
        Blocks();
        EXPECT_EQ(Tick(), Outcome::Nothing) << "the tick after did not follow the card";
        fake::SetPosition(30.4);
    }
}

// The dialog's OK asks the next tick to publish what it sees afresh, with
// the new settings, and only the next: never Playing for a paused track.
TEST_F(Monitor, DialogOkRepublishesTheObservedStateAtTheNextTick) {
    const struct {
        Observation observation;
        Outcome outcome;
    } cases[] = {
        {Observation::PlayingQuiet, Outcome::PublishPlaying},
        {Observation::Paused, Outcome::PublishPaused},
        {Observation::Stopped, Outcome::PublishStopped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.observation));
        Observe(c.observation);
        Tick();  // the card now shows the state observed
        Observe(c.observation);
        EXPECT_EQ(Tick(), Outcome::Nothing);
        Observe(c.observation);
        republishRequested = true;
        EXPECT_EQ(Tick(), c.outcome);
        Observe(c.observation);
        EXPECT_EQ(Tick(), Outcome::Nothing) << "the request was answered twice";
    }
}

// A closed track shows as stopped only once it has stayed closed for a
// second: the player closes a track just before it opens the next. While it
// waits, a tick asks the player nothing, as the old track's tail may still
// play without tags.
TEST_F(Monitor, AClosedTrackShowsOnlyWhenNoTrackFollows) {
    Observe(Observation::PlayingQuiet);
    EXPECT_EQ(Tick(), Outcome::Nothing);
    const struct {
        uint32_t afterMs;  // the tick this long after the close
        bool reopened;     // a track opened in between
        Outcome outcome;
    } cases[] = {
        {999, false, Outcome::Nothing},         {1000, false, Outcome::PublishStopped},
        {3000, false, Outcome::PublishStopped}, {500, true, Outcome::Nothing},
        {3000, true, Outcome::Nothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.afterMs << " ms, reopened " << c.reopened);
        publishedState = Playing;
        const size_t before = fake::PresenceCount();
        dsp->NewTrack(nullptr, nullptr);
        EXPECT_EQ(fake::PresenceCount(), before) << "the close published at once";
        fake::AdvanceMonotonicMs(c.afterMs);
        if (c.reopened) {
            dsp->NewTrack(nullptr, "next.mp3");
            fake::SetPosition(1.0);  // the next track, a tick later
        }
        fake::ClearCalls();
        Observe(Observation::PlayingQuiet);
        fake::SetTag(TagFormattedTitle, nullptr);  // the old track's tail: no tags
        EXPECT_EQ(Tick(), c.outcome);
        if (c.outcome == Outcome::PublishStopped) {
            EXPECT_STREQ(fake::LastPresence().details.text, "No tracks playing.");
            EXPECT_EQ(fake::CallNames(), (Names{"Discord_UpdatePresence"}));
            Observe(Observation::Stopped);
            EXPECT_EQ(Tick(), Outcome::Nothing) << "the close was shown twice";
        } else if (!c.reopened) {
            EXPECT_TRUE(fake::CallNames().empty()) << "a tick asked the player while the close waited";
            fake::AdvanceMonotonicMs(1000);
            Observe(Observation::Stopped);
            EXPECT_EQ(Tick(), Outcome::PublishStopped);
        }
        fake::SetTag(TagFormattedTitle, "Title");
        fake::SetPosition(30.4);
    }
}

TEST_F(Monitor, NothingIsAskedOutsideALiveInstance) {
    dsp->Free(nullptr);
    fake::ClearCalls();
    Blocks();
    RunMonitorTick();
    EXPECT_EQ(fake::CallCount(), 0u);
    dsp->New();
}

}  // namespace
