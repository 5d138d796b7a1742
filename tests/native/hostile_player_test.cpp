// Players that answer badly: every tag missing, a position that is not a
// number or is infinite, length texts that are negative, not numbers or far
// too long, an IsPlaying that flips on every call, version words at their
// extremes, and tags that are not plain text. Whatever the player says, the
// plug-in must publish a sane presence (the fallbacks of its rules) and
// release every text it was handed. The fake player poisons released texts
// and the bytes past each text's zero, so a read out of bounds or after the
// release is reported by AddressSanitizer, and UBSan watches the arithmetic
// on the extreme values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/playback_monitor.h"
#include "plugin/descriptor.h"
#include "plugin/plugin_state.h"

namespace {

const int64_t Now = 1700000000;
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Infinity = std::numeric_limits<double>::infinity();

class HostilePlayer : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetWallClock(Now);
        fake::SetVersion(0x03080500u);
        fake::SetPlaying(1);
        dsp = fake::BindPlugin();
    }

    void TearDown() override {
        dsp->Free(nullptr);
        EXPECT_TRUE(fake::TextsBalanced()) << "every player text is released exactly once";
    }

    // Starts the instance with the given clock mode.
    void Start(int32_t timeMode) {
        dsp->New();
        const PresenceSettings block = {1, 1, timeMode};
        dsp->SetConfig(nullptr, &block, sizeof block);
    }

    // Publishes the current track through Reset, which asks the player for
    // everything a card needs, and returns what was sent. The card is
    // forgotten first, here and in Tick, so that a case may show the card
    // the case before did.
    const fake::RecordedPresence& Show() {
        fake::ForgetLastUpdate();
        const size_t before = fake::PresenceCount();
        dsp->Reset(nullptr);
        EXPECT_EQ(fake::PresenceCount(), before + 1);
        return fake::LastPresence();
    }

    // One tick with audio flowing (or not); how many presences it sent.
    size_t Tick(bool blocks) {
        if (blocks) dsp->Process(nullptr, nullptr, 0);
        fake::ForgetLastUpdate();
        const size_t before = fake::PresenceCount();
        RunMonitorTick();
        return fake::PresenceCount() - before;
    }

    const XMPDSP* dsp = nullptr;
};

void ExpectClock(const fake::RecordedPresence& sent, int64_t start, int64_t end) {
    EXPECT_EQ(sent.startTimestamp, start);
    EXPECT_EQ(sent.endTimestamp, end);
}

void ExpectBadge(const fake::RecordedPresence& sent, const char* key, const char* text) {
    EXPECT_STREQ(sent.smallImageKey.text, key);
    EXPECT_STREQ(sent.smallImageText.text, text);
}

// ------------------------------------------------------------ missing tags ----

TEST_F(HostilePlayer, EveryTagMissingGivesEmptyLinesAndTheClockOfAnUnknownLength) {
    const struct {
        int32_t timeMode;
        int64_t start;  // length unknown: the elapsed time counts up, if at all
    } cases[] = {{TimeRemaining, Now - 42}, {TimeElapsed, Now - 42}, {TimeDisabled, 0}, {5, Now - 42}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "timeMode " << c.timeMode);
        fake::Reset();
        fake::SetWallClock(Now);
        dsp = fake::BindPlugin();
        fake::SetTrack(fake::Track{nullptr, nullptr, nullptr, nullptr, nullptr, 42.0});
        Start(c.timeMode);

        const fake::RecordedPresence& playing = Show();
        EXPECT_STREQ(playing.details.text, "");
        EXPECT_STREQ(playing.state.text, "");
        EXPECT_FALSE(playing.details.isNull);
        EXPECT_FALSE(playing.state.isNull);
        ExpectBadge(playing, "play", "Playing");
        ExpectClock(playing, c.start, 0);
        EXPECT_STREQ(playing.largeImageText.text, "XMPlay v0.0.0.0");

        fake::SetPlaying(1);
        ASSERT_EQ(Tick(false), 1u) << "no audio since the last tick: paused";
        const fake::RecordedPresence& paused = fake::LastPresence();
        EXPECT_STREQ(paused.details.text, "");
        EXPECT_STREQ(paused.state.text, "");
        ExpectBadge(paused, "pause", "Paused");
        ExpectClock(paused, 0, 0);

        dsp->NewTrack(nullptr, nullptr);
        fake::AdvanceMonotonicMs(1000);
        ASSERT_EQ(Tick(true), 1u) << "the closed track stayed closed";
        EXPECT_STREQ(fake::LastPresence().details.text, "No tracks playing.");
        ExpectBadge(fake::LastPresence(), "stopped", "Stopped");

        const fake::TextAccounting texts = fake::Texts();
        EXPECT_EQ(texts.handedOut, 0);
        EXPECT_GT(texts.nullHandedOut, 0);
        EXPECT_TRUE(fake::TextsBalanced()) << "every missing tag is released as a null";
        dsp->Free(nullptr);
    }
}

// ------------------------------------------------------------- bad GetTime ----

TEST_F(HostilePlayer, PositionThatIsNoNumberOrOutOfRangeShowsNoElapsedClock) {
    const struct {
        double position;
        int64_t start;
    } cases[] = {
        {NaN, 0},
        {-NaN, 0},
        {Infinity, 0},
        {-Infinity, 0},
        {1e300, 0},
        {-1e300, 0},
        {2147483648.0, 0},
        {-2147483649.0, 0},
        {std::numeric_limits<double>::max(), 0},
        {-30.5, 0},
        {2147483647.99, Now - 2147483647},
        {std::numeric_limits<double>::denorm_min(), Now},
        {-0.0, Now},
    };
    fake::SetTrack(fake::Track{"Title", "200", "Album", "1999", "MP3", 0.0});
    Start(TimeElapsed);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "GetTime " << c.position);
        fake::SetPosition(c.position);
        const fake::RecordedPresence& sent = Show();
        ExpectBadge(sent, "play", "Playing");
        ExpectClock(sent, c.start, 0);
        EXPECT_STREQ(sent.details.text, "Title");
        EXPECT_STREQ(sent.state.text, "Album (1999)");
    }
}

// A position that is no number, or too large for whole seconds, is unknown:
// the length alone would put the end time decades in the past, so the
// presence carries no clock, and its lines stay intact.
TEST_F(HostilePlayer, PositionThatIsNoNumberWithAKnownLengthShowsNoClock) {
    fake::SetTrack(fake::Track{"Title", "200", "Album", "1999", "MP3", 0.0});
    Start(TimeRemaining);
    for (double position : {NaN, Infinity, -Infinity, 1e300, -1e300}) {
        SCOPED_TRACE(testing::Message() << "GetTime " << position);
        fake::SetPosition(position);
        const fake::RecordedPresence& sent = Show();
        ExpectBadge(sent, "play", "Playing");
        ExpectClock(sent, 0, 0);
        EXPECT_STREQ(sent.details.text, "Title");
        EXPECT_STREQ(sent.state.text, "Album (1999)");
    }
}

// The monitor treats a position that is no number like one that stands
// still: the same ticks republish, and none more.
TEST_F(HostilePlayer, MonitorTreatsAPositionThatIsNoNumberLikeOneThatStandsStill) {
    fake::SetTrack(fake::Track{"Title", "200", "Album", "1999", "MP3", 0.0});
    Start(TimeRemaining);
    auto pattern = [this](double position) {
        fake::SetPosition(position);
        expectedRemaining = 0;
        publishedState = Playing;
        std::vector<size_t> sent(7);
        for (size_t& published : sent) published = Tick(true);
        return sent;
    };
    const std::vector<size_t> standingStill = pattern(30.0);
    EXPECT_EQ(standingStill, (std::vector<size_t>{1, 0, 0, 1, 0, 0, 1}));
    for (double position : {NaN, Infinity, -Infinity, 1e300, -1e300}) {
        SCOPED_TRACE(testing::Message() << "GetTime " << position);
        EXPECT_EQ(pattern(position), standingStill);
    }
}

// ------------------------------------------------------- bad length texts ----

TEST_F(HostilePlayer, LengthTextsThatAreNoLengthGiveTheClockOfTheirNumber) {
    const std::string fortyNines(40, '9');
    const std::string longDigits(fake::MaxTagText, '7');
    const struct {
        std::string length;
        int64_t start;
        int64_t end;
    } cases[] = {
        {"-5", Now - 30, 0},
        {"abc", Now - 30, 0},
        {"", Now - 30, 0},
        {"   ", Now - 30, 0},
        {"%s%n", Now - 30, 0},
        {"\xFF\xFE", Now - 30, 0},
        {"0x1F", Now - 30, 0},
        {fortyNines, 0, Now + INT32_MAX - 30},
        {longDigits, 0, Now + INT32_MAX - 30},
        {"-" + fortyNines, Now - 30, 0},
        {"2147483648", 0, Now + INT32_MAX - 30},
        {"1e3", 0, Now - 29},
        {" +200 seconds", 0, Now + 170},
    };
    fake::SetTrack(fake::Track{"Title", "200", "Album", "1999", "MP3", 30.0});
    Start(TimeRemaining);
    for (const auto& c : cases) {
        SCOPED_TRACE("length text \"" + c.length + "\"");
        fake::SetTag(TagLengthSeconds, c.length.c_str());
        const fake::RecordedPresence& sent = Show();
        ExpectBadge(sent, "play", "Playing");
        ExpectClock(sent, c.start, c.end);
    }
}

TEST_F(HostilePlayer, MonitorStaysQuietOnATrackOfAbsurdLengthOncePlaybackIsInStep) {
    const std::string fortyNines(40, '9');
    for (const std::string& length : {std::string("-5"), std::string("abc"), fortyNines, "-" + fortyNines}) {
        SCOPED_TRACE("length text \"" + length + "\"");
        fake::SetTrack(fake::Track{"Title", length.c_str(), "Album", "1999", "MP3", 30.0});
        Start(TimeRemaining);
        publishedState = Playing;
        expectedRemaining = 0;
        EXPECT_EQ(Tick(true), 1u) << "the first tick finds the guard far off and republishes";
        for (int tick = 1; tick <= 5; tick++) {
            fake::SetPosition(30.0 + 2 * tick);
            EXPECT_EQ(Tick(true), 0u) << "tick " << tick << " with the position in step";
        }
        dsp->Free(nullptr);
    }
}

// --------------------------------------------------- IsPlaying that flips ----

// A status table whose IsPlaying answers from a list, one answer per call,
// and whose GetTime is the fake player's.
const XMPFUNC_STATUS* fakeStatus;
std::vector<int32_t> playingAnswers;
size_t playingCalls;

int32_t XMP_STDCALL FlippingIsPlaying(void) {
    fakeStatus->IsPlaying();  // logged as the fake player's call
    return playingAnswers[playingCalls++ % playingAnswers.size()];
}

double XMP_STDCALL FakeGetTime(void) { return fakeStatus->GetTime(); }

const XMPFUNC_STATUS flippingStatus = {FlippingIsPlaying, FakeGetTime};

void* XMP_STDCALL FlippingInterfaceGetter(uint32_t face) {
    void* table = fake::InterfaceGetter(face);
    if (face != InterfaceStatus) return table;
    fakeStatus = static_cast<const XMPFUNC_STATUS*>(table);
    return const_cast<XMPFUNC_STATUS*>(&flippingStatus);
}

TEST_F(HostilePlayer, IsPlayingThatFlipsOnEveryCallIsAskedOncePerTickAndEachTickFollowsItsAnswer) {
    for (bool blocks : {true, false}) {
        SCOPED_TRACE(blocks ? "audio flowing" : "no audio");
        fake::Reset();
        fake::SetWallClock(Now);
        fake::SetTrack(fake::Track{"Title", "200", "Album", "1999", "MP3", 30.0});
        playingAnswers = {1, 0, -1, 0, INT32_MIN, 0, 2, 0};
        playingCalls = 0;
        dsp = XMPDSP_GetInterface2(1, FlippingInterfaceGetter);
        ASSERT_NE(dsp, nullptr);
        Start(TimeRemaining);
        // Quiet ticks need the guard in step with the track: 170 s remain.
        expectedRemaining = 172;
        publishedState = Stopped;
        fake::ClearCalls();
        const char* const playingKey = blocks ? "play" : "pause";
        for (size_t tick = 0; tick < 16; tick++) {
            const bool answeredPlaying = playingAnswers[tick % playingAnswers.size()] != 0;
            SCOPED_TRACE(testing::Message() << "tick " << tick);
            ASSERT_EQ(Tick(blocks), 1u) << "the answer changed, so the tick publishes once";
            ExpectBadge(fake::LastPresence(), answeredPlaying ? playingKey : "stopped",
                        answeredPlaying ? (blocks ? "Playing" : "Paused") : "Stopped");
            if (answeredPlaying) {
                EXPECT_STREQ(fake::LastPresence().details.text, "Title");
                EXPECT_STREQ(fake::LastPresence().state.text, "Album (1999)");
            }
            // The position stands still in the fake: keep the guard in step.
            if (blocks && answeredPlaying) expectedRemaining += 2;
        }
        EXPECT_EQ(fake::CountCalls(fake::Call::IsPlaying), 16u) << "IsPlaying is asked once per tick";
        EXPECT_EQ(playingCalls, 16u);
        dsp->Free(nullptr);
        EXPECT_TRUE(fake::TextsBalanced());
    }
}

// --------------------------------------------------------- version words ----

TEST_F(HostilePlayer, VersionWordsAtTheirExtremesAreFourBytesFromTheTop) {
    const struct {
        uint32_t version;
        const char* text;
    } cases[] = {
        {0u, "XMPlay v0.0.0.0"},
        {0xFFFFFFFFu, "XMPlay v255.255.255.255"},
        {0x80000000u, "XMPlay v128.0.0.0"},
        {0x000000FFu, "XMPlay v0.0.0.255"},
    };
    fake::SetTrack(fake::Track{"Title", "200", "Album", "1999", "MP3", 30.0});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fake::SetVersion(c.version);
        Start(TimeRemaining);
        EXPECT_STREQ(Show().largeImageText.text, c.text);
        const PresenceSettings hidden = {1, 0, TimeRemaining};
        dsp->SetConfig(nullptr, &hidden, sizeof hidden);
        EXPECT_STREQ(Show().largeImageText.text, "XMPlay");
        dsp->Free(nullptr);
    }
}

// ------------------------------------------------- tags that are not text ----

TEST_F(HostilePlayer, TagsAreSentByteForByteWithoutInterpretingPercentSigns) {
    const struct {
        const char* title;
        const char* album;
        const char* details;
        const char* state;
    } cases[] = {
        {"%s%n%x%%%1000000d", "%n (%s)", "%s%n%x%%%1000000d", "%n (%s) (1999)"},
        {"\xFF\xFE\xFD", "\x80\x80", "\xFF\xFE\xFD", "\x80\x80 (1999)"},
        {"\x01\x1B[2J", "\t\r\n", "\x01\x1B[2J", "\t\r\n (1999)"},
        // A lone byte goes out padded, a broken sequence as it is.
        {"\xC3", "\xED\xA0\x80", "\xC3\xE2\x80\x8B", "\xED\xA0\x80 (1999)"},
    };
    fake::SetTrack(fake::Track{"Title", "200", "Album", "1999", "MP3", 30.0});
    Start(TimeRemaining);
    for (const auto& c : cases) {
        fake::SetTag(TagFormattedTitle, c.title);
        fake::SetTag(TagAlbum, c.album);
        const fake::RecordedPresence& sent = Show();
        EXPECT_EQ(std::string(sent.details.text), c.details);
        EXPECT_EQ(std::string(sent.state.text), c.state);
    }
}

TEST_F(HostilePlayer, TagsFarLongerThanALineAreCutWithoutBeingReadPastTheirEnd) {
    const std::string longest(fake::MaxTagText, 'x');
    const std::string cut = std::string(127, 'x') + "\xE2\x80\xA6";
    fake::SetTrack(fake::Track{longest.c_str(), longest.c_str(), longest.c_str(), longest.c_str(),
                               longest.c_str(), 30.0});
    Start(TimeRemaining);
    const fake::RecordedPresence& sent = Show();
    EXPECT_EQ(std::string(sent.details.text), cut);
    EXPECT_EQ(std::string(sent.state.text), cut) << "a date too long to keep whole is cut with the line";
    ExpectClock(sent, Now - 30, 0);  // "xxx..." is no number: length 0

    fake::SetTag(TagAlbum, nullptr);
    EXPECT_EQ(std::string(Show().state.text), cut) << "a file type too long for the line";
    fake::SetPlaying(1);
    EXPECT_EQ(Tick(false), 1u);
    EXPECT_EQ(std::string(fake::LastPresence().details.text), cut);
}

}  // namespace
